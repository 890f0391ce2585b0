// Turns a station text file into a table for the batch tool's tests, as a
// user's GIS would hold the same survey: fields in another order than x y
// point h value. Usage: make_table_fixture FORMAT STATIONS OUT
//   xlsx: a sheet of text cells; gpkg: typed fields and point geometry in
//   EPSG:EPSG (a fourth argument, default 32719).
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "VectorFixture.h"
#include "app/StationInput.h"

int main(int argc, char **argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: make_table_fixture xlsx|gpkg STATIONS "
                             "OUT [EPSG]\n");
        return 2;
    }
    const std::string format = argv[1];
    const int epsg = argc > 4 ? std::atoi(argv[4]) : 32719;
    TStationTextInput input(argv[2], '.');
    input.Rewind();
    InputRecord record;
    std::vector<FixtureRow> rows;
    const bool text = format == "xlsx";
    // The numbers as the file writes them, so that a sheet's text cells read
    // back to the same doubles.
    while (input.Next(record)) {
        if (!record.is_station) {
            continue;
        }
        std::vector<std::string> fields;
        std::string field;
        for (const char c : std::string(record.text) + " ") {
            if (c == ' ' || c == '\t') {
                if (!field.empty()) {
                    fields.push_back(field);
                }
                field.clear();
            } else {
                field += c;
            }
        }
        FixtureRow row;
        if (text) {
            row.values = {record.name, fields[4], fields[3], fields[1],
                          fields[0]};
        } else {
            row.values = {record.name, record.station.value, record.station.h};
            row.has_point = true;
            row.x = record.station.x;
            row.y = record.station.y;
        }
        rows.push_back(row);
    }
    std::vector<FixtureField> fields =
        text ? std::vector<FixtureField>{{"Station", OFTString},
                                         {"CBA", OFTString},
                                         {"Elevation", OFTString},
                                         {"Northing", OFTString},
                                         {"Easting", OFTString}}
             : std::vector<FixtureField>{{"Station", OFTString},
                                         {"Bouguer", OFTReal},
                                         {"Height", OFTReal}};
    std::string error;
    if (!WriteVectorLayer(argv[3], text ? "XLSX" : "GPKG", "survey",
                          text ? 0 : epsg, !text, fields, rows, error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    return 0;
}

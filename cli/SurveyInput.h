// How the batch tool takes its stations: the station text file as it always
// read it, or a table or GIS layer read by its column names, with the
// coordinates placed in the coordinate system the run computes in; and the
// GeoPackage of a run's stations.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "app/StationInput.h"
#include "gis/Coordinates.h"
#include "gis/TableSource.h"

class TCalcRun;

// The stations of a run as the batch tool prepared them.
struct SurveyInput {
    // Listed in memory (a table, or a station file moved to another
    // coordinate system); false: the run reads the station file itself.
    bool listed = false;
    std::vector<ListedStation> stations; // with lines that are not stations
    // Longitude and latitude of each station (one entry per station, in
    // order) when the input was geographic; empty otherwise.
    std::vector<double> lon, lat;
    RunCrs crs; // the coordinate system the run computes in
    // The whole source when it can be read only once (ReadOnce): read by
    // PrepareSurvey, then by the run when it is a station file (not listed).
    bool held = false;
    std::string bytes;
};

// Decides how `path` is read and reads what must be read first (all of it,
// into `input.bytes`, when it can be read only once), telling the
// user on `to` which columns and which coordinate system were taken. Returns
// 0, or the exit status after a message: 2 for a usage problem (an ambiguous
// or missing column, an unknown CRS text), 1 for a source that cannot be read
// or holds no station.
int PrepareSurvey(const std::string &path, const TableOptions &options,
                  const std::string &encoding, SurveyInput &input,
                  std::FILE *to);

// Writes the stations of a finished run with quality control to the
// GeoPackage `path`: layer "stations", a point in the run's coordinate system
// for each station, and every column of the companion table (with lon and
// lat after them for geographic input). Returns an empty text, or the message
// of the failure.
std::string WriteStationsGeoPackage(const std::string &path,
                                    const TCalcRun &run,
                                    const SurveyInput &input);

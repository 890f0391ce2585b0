// Stations from a table: deciding whether a file is a station text file or a
// table, and reading a table (delimited text, spreadsheet or GIS layer through
// GDAL/OGR, or blank-separated text with a header) into stations.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "gis/ColumnChoice.h"
#include "gis/GisError.h"
#include "gis/SurveyStations.h"
#include "gis/TableRow.h"

// The options of a run that concern tables and coordinates, as the front
// end parsed them; a text is empty when not given.
struct TableOptions {
    // The columns the user named (--columns, parsed by ParseColumnsOption,
    // or the window's column dialog, where field names may hold any
    // character); none: recognised by name.
    std::optional<ColumnsOption> columns;
    std::string layer;      // --layer: the layer of a source with several
    std::string source_crs; // --source-crs: the CRS of the coordinates read
    std::string crs;        // --crs: the CRS to compute in
    // Text encoding of delimited or blank-separated text, as iconv names it
    // (--encoding; empty: UTF-8). Other formats say their own.
    std::string encoding;
    // Decimal separator of the numbers in delimited or blank-separated text
    // (a comma only makes sense with semicolons, tabs or blanks). Spreadsheet
    // cells and other layers' texts always hold a point.
    char decimal_separator = '.';
};

// How a file is read.
enum class SourceKind {
    StationText, // the station text format, read by the run itself
    Table,       // fields found by name (ReadTable)
};

// How a table is read.
enum class TableFormat {
    None,      // not a table
    Delimited, // comma, semicolon or tab with a header line: read here
    BlankText, // blank-separated text with a header line: read here
    Gdal,      // a format GDAL identifies: spreadsheet, GeoPackage, ...
};

// What DecideSource found.
struct SourceDecision {
    SourceKind kind = SourceKind::StationText;
    TableFormat format = TableFormat::None;
    std::string driver; // GDAL's short name of a Gdal table's format
    // The fields of a text file's first non-blank line (empty otherwise).
    std::vector<std::string> header;
    // A station text file whose first line is a recognised station header
    // (x y point h value): the line is passed over as an unread line, and
    // these columns say what was recognised (see DescribeColumns).
    bool station_header = false;
    ColumnChoice header_columns;
    // How the fields of `header` are separated.
    TextSeparator separator = TextSeparator::Blank;

    // A station text file whose first line looks like the header of a
    // delimited table that names no recognised columns: commas, semicolons
    // or tabs between at least three fields, the first not a number. Such a
    // file holds no station line; its columns must be named.
    bool UnrecognisedTable() const;
};

// Decides how `path` is read:
//  - a binary file, or a text one that starts like JSON or XML, that GDAL
//    identifies as a vector format (GeoPackage, Shapefile, FlatGeobuf,
//    GeoJSON, XLSX, ODS, ...) is a Gdal table;
//  - a text file is a table when --columns is given, or when its first
//    non-blank line is a header recognising x, y and value
//    (RecognisesTableHeader). It is Delimited when that line holds a comma,
//    semicolon or tab (DetectSeparator), else BlankText;
//  - a delimited first line of names only (no field a number) that
//    recognises some columns but not x, y and value is a Delimited table
//    too, which ReadTable refuses naming what it lacks; unless its
//    recognised fields stand in the station text format's order
//    (RecognisedInStationOrder), when it reads by position, as a station file;
//  - but a blank-separated header whose first five fields are x y point h
//    value in this order (IsStationHeader) keeps the file a station text
//    file, so it reads exactly as a station file without a header;
//  - every other file is a station text file, and so is one that cannot be
//    read: the station reader then says why.
// GDAL's CSV driver is never asked, as it opens any text file.
SourceDecision DecideSource(const std::string &path,
                            const TableOptions &options);

// True when `options` names the columns (--columns or chosen_columns).
bool NamesColumns(const TableOptions &options);

// Rows kept with their reason for the message; the rest are only counted.
constexpr size_t kept_skipped_rows = 5;

// The stations of a table, held compactly (a million rows cost little more
// than their numbers and names), and the rows passed over.
struct TableRows {
    TListedStations stations; // x and y as read until PlaceStations
    int64_t skipped = 0;      // rows that gave no station
    std::vector<SkippedRow> first_skipped; // the first kept_skipped_rows

    // Counts a skipped row, keeping the first few.
    void Skip(SkippedRow &&row);
};

// A table read into stations, with what the user is told about it.
struct TableData {
    std::string layer;               // the layer read (GDAL sources)
    std::vector<std::string> fields; // the layer's field names, in order
    ColumnChoice choice;             // the columns taken (DescribeColumns)
    // The layer's CRS as WKT when x and y came from its geometry and it has
    // one; empty otherwise.
    std::string layer_crs;
    TableRows rows; // stations in the source's order, and rows passed over
    // Longitude and latitude of each station, degrees, once PlaceStations
    // projected geographic input; empty otherwise.
    std::vector<double> lon, lat;
};

// A source read once into memory (standard input, a pipe), offered to
// DecideSource and ReadTable under a path of GDAL's memory file system for as
// long as this object lives. The path ends in the file name of `name` (the
// source's own path), as some drivers go by the extension. `bytes` must
// outlive the object and stay unchanged.
class TMemorySource {
  public:
    TMemorySource(const std::string &name, const std::string &bytes);
    ~TMemorySource();
    TMemorySource(const TMemorySource &) = delete;
    TMemorySource &operator=(const TMemorySource &) = delete;

    const std::string &Path() const { return path; }

  private:
    std::string path;
};

// The lines of a text file, or of a source held in memory (TMemorySource),
// that hold something above a blank (ended by LF or by the end): at least as
// many as its rows or station lines, counted in a fast pass to reserve room
// for them. 0 when it cannot be read.
size_t CountTextLines(const std::string &path);

// Reads the table of `path` as `decision` says (kind Table): opens it, picks
// the layer (--layer; the only one when there is one), chooses the columns
// (--columns, else by name; x and y from point geometry), converts every row
// (ConvertRow) and counts the rows without a station. Text cells are read as
// text (spreadsheet cells too) and converted like the station text format;
// typed numbers are taken as stored. Delimited and blank-separated text is
// read here, row by row (TTextRows), in options.encoding converted to UTF-8
// as the station text format is; a name a layer gives must be UTF-8.
// Errors: the column choice's and CannotOpen, NoLayer, LayerNotFound,
// SeveralLayers, NoLayers (--layer for a text table), ReadFailed, OpenQuote (a
// quoted field still open at the end of the text: the row and line where it
// opened), NotText (the line of a text, the row of a layer), each naming the
// file.
GisError ReadTable(const std::string &path, const SourceDecision &decision,
                   const TableOptions &options, TableData &table);

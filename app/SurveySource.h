// How the programs take their stations: the station text file, read by the
// run itself, or a table or GIS layer read through the GIS module (loaded only
// then) by its column names, with the coordinates placed in the coordinate
// system the run computes in; and the GeoPackage of a run's stations.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "app/CalcRun.h"
#include "app/RunQc.h"
#include "app/StationInput.h"
#include "gis/Coordinates.h"
#include "gis/GeoPackageWriter.h"
#include "gis/GisError.h"
#include "gis/SurveyStations.h"
#include "gis/TableSource.h"

struct RunInput;
struct RunSettings;
class TQcStations;
struct ExtraColumn;

// The stations of a run as PrepareSurvey prepared them.
struct SurveyInput {
    // Listed in memory (a table, or a station file moved to another
    // coordinate system); false: the run reads the station file itself.
    bool listed = false;
    TListedStations stations; // with lines that are not stations
    // Longitude and latitude of each station (one entry per station, in
    // order) when the input was geographic; empty otherwise.
    std::vector<double> lon, lat;
    RunCrs crs; // the coordinate system the run computes in
    // The whole source when it can be read only once (ReadOnce): read by
    // PrepareSurvey, then by the run when it is a station file (not listed).
    bool held = false;
    std::string bytes;
    // The most a source read once may hold, bytes (set by the caller).
    uint64_t read_once_limit = default_read_once_limit;
};

// What PrepareSurvey did, told in lines the user reads.
struct SurveyPreparation {
    // Why it refused; None when the stations are ready. IsUsageProblem and
    // AsksForColumns (gis/GisError.h) tell the front ends what to do.
    GisError refusal;
    std::vector<std::string> notes; // the columns and the CRS taken, rows
                                    // passed over
    // The fields of the source, when it is a table (or looks like one).
    std::vector<std::string> fields;
    // A delimited text whose header names no column the readers recognise:
    // read as a station file, it would give no station.
    bool columns_unknown = false;

    bool Ready() const { return refusal.ok(); }
    // The message of the refusal.
    std::string Error() const { return GisMessage(refusal); }
    // For a file whose header names no column (columns_unknown), the
    // message that says so, naming `path` and the fields; else empty. The
    // batch tool says it when such a file gives no station.
    std::string UnrecognisedHeader(const std::string &path) const;
    // True when the user can mend what went wrong by choosing the columns
    // or the coordinate system (the window's column dialog).
    bool AsksForColumns() const;
};

// Decides how `path` is read and reads what must be read first: all of it
// (into `input.bytes`) when it can be read only once; a table or layer,
// listed; a station file whose coordinates move to another system, listed
// and placed. `options` carry the encoding (empty: UTF-8) and the decimal
// separator of a station file or a text table.
SurveyPreparation PrepareSurvey(const std::string &path,
                                const TableOptions &options,
                                SurveyInput &input);

// Makes a run read its stations from `survey` (listed or held in memory) and
// write lon and lat in its companion table for geographic input, through
// `input`; the run takes what it needs from `survey`, which must outlive
// it. A station file on disk is left to the run (as `settings` reads it).
// `again`: the survey will be run again (the window's Recalculate), so each
// run takes a copy of the stations held in memory rather than the stations
// themselves.
void FeedRun(RunInput &input, SurveyInput &survey, const RunSettings &settings,
             bool again = false);

// The heights of the DEM `path` at a run's stations (DemSampler), which lie
// in `crs` (not known: see SampleDem in gis/DemSampler.h), sampled through
// the GIS module, loaded when the run asks. A refusal names the file.
DemSampler MakeDemSampler(const std::string &path, const RunCrs &crs);

// What writing a GeoPackage did: the message of its failure (empty when it
// succeeded), and the layers of an earlier GeoPackage at the path that the
// new one keeps.
struct GeoPackageWritten {
    std::string error;
    std::vector<std::string> kept_layers;
};

// A survey of a run as the GeoPackage's layer "surveys" holds it: the hull
// of its stations and its figures (qc/SurveyOffsets.h).
struct SurveyArea {
    std::string survey;
    std::vector<RingPoint> hull;
    int64_t stations = 0, in_contact = 0;
    double offset = qc_none, standard_error = qc_none;
    bool shifted = false;
};

// The surveys of a run with quality control; none when its stations were
// not grouped.
std::vector<SurveyArea> SurveyAreas(const QcFindings &findings);

// Writes the stations of a finished run with quality control for the
// GeoPackage `path`: layer "stations", a point in the run's coordinate system
// (`crs_wkt`; empty: undefined) for each station, and every column of the
// companion table, its own and `extra` (CompanionExtras); an earlier
// GeoPackage's other layers are kept. The file is built at `temporary`
// (which must not exist), for the caller to put in place. With `surveys`,
// a layer "surveys" of their outlines follows.
GeoPackageWritten WriteStationsGeoPackage(
    const std::string &path, const std::string &temporary,
    const TQcStations &stations, const std::string &crs_wkt,
    const std::vector<ExtraColumn> &extra,
    const std::vector<SurveyArea> &surveys = {});

// A station of a survey written as a layer of its own (a cleaned survey).
struct SurveyPoint {
    double x, y, h, value; // h NaN: none
    std::string name;      // UTF-8
    std::string survey;
};

// Writes `points` for the GeoPackage `path` as the layer "stations" (point,
// h, value, survey) in the coordinate system `crs_wkt`; an earlier
// GeoPackage's other layers are kept. Built at `temporary`, as
// WriteStationsGeoPackage.
GeoPackageWritten WriteSurveyGeoPackage(const std::string &path,
                                        const std::string &temporary,
                                        const std::vector<SurveyPoint> &points,
                                        const std::string &crs_wkt);

// The GIS module: the part of the programs that links GDAL and PROJ, loaded
// only when a run reads a table or a GIS layer, moves coordinates to another
// system or writes a GeoPackage. A run on a station file never loads it, so
// it neither starts nor carries the hundred libraries GDAL brings.
#pragma once

#include <string>

#include "gis/SurveyInput.h"
#include "qc/QcStation.h"

// Changes whenever GisModuleApi does: a module of another build is refused.
inline constexpr int gis_module_version = 2;

struct GisModuleApi {
    int version;
    // PrepareSurvey for a source that needs GDAL, under the decimal
    // separator `separator`; a source read once is in input.bytes already.
    SurveyPreparation (*prepare)(const std::string &path,
                                 const TableOptions &options,
                                 const std::string &encoding, char separator,
                                 SurveyInput &input);
    // WriteStationsGeoPackage for the stations of a finished run.
    GeoPackageWritten (*write_geopackage)(const std::string &path,
                                          const std::string &temporary,
                                          const TQcStations &stations,
                                          const SurveyInput &input);
};

// The module's one entry point.
extern "C" const GisModuleApi *korvanel_gis_module();

// The module, loaded on the first call: beside the program as installed, or
// in the build folder. Null, with the reason in `why`, when it cannot be.
const GisModuleApi *LoadGisModule(std::string &why);

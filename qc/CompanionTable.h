// The companion table: every station of a run with its estimates, residuals,
// how sure they are and the verdict of quality control, as a CSV table beside
// the result file (RFC 4180, UTF-8, a point as the decimal separator whatever
// the locale, a header line).
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/FileReplacement.h"
#include "qc/Diagnosis.h"
#include "qc/QcStation.h"
#include "qc/SurveyNames.h"
#include "qc/SurveyOffsets.h"

// The columns, in their order.
inline constexpr const char *companion_columns[] = {"point",
                                                    "x",
                                                    "y",
                                                    "h",
                                                    "value",
                                                    "estimate_all",
                                                    "estimate_without",
                                                    "r1",
                                                    "r2",
                                                    "sigma",
                                                    "z",
                                                    "r2_clean",
                                                    "half_size",
                                                    "n",
                                                    "status",
                                                    "flag"};

// One cell of a row: a text, a number, a whole number, or nothing.
struct CompanionCell {
    enum class Kind { Text, Real, Integer, Empty };
    Kind kind = Kind::Empty;
    std::string text;
    double real = 0.0;
    int64_t integer = 0;
};

// A column added after the table's own (longitude and latitude, what the
// diagnosis found): its name, whether its cells are text (else numbers), and
// its cell for station k.
struct ExtraColumn {
    std::string name;
    bool text = false;
    std::function<CompanionCell(size_t)> cell;
};

// A column of numbers: `value(k)` for station k, NaN for none (an empty
// cell).
ExtraColumn NumberColumn(std::string name, std::function<double(size_t)> value);

// The names of the columns the diagnosis adds, in their order.
inline constexpr const char *diagnosis_columns[] = {
    "z_cal", "h_dem", "dh", "h_estimate", "cause", "fix_value", "fix_h",
    "r2_fixed"};

// The columns the diagnosis adds, in their order: z_cal (z over the
// calibration), h_dem and dh (with a DEM: `dem`, one height per station),
// h_estimate (the neighbours' kriged height), cause, fix_value, fix_h and
// r2_fixed. `stations` and `diagnosis` (and `dem`) must outlive the columns.
std::vector<ExtraColumn> DiagnosisColumns(const TQcStations &stations,
                                          const Diagnosis &diagnosis,
                                          const std::vector<double> &dem);

// The names of the columns the surveys add after the diagnosis's.
inline constexpr const char *survey_columns[] = {"survey", "survey_offset"};

// The columns the surveys add: each station's survey (UTF-8) and that
// survey's offset (mGal; empty when it touches no other or none was
// estimated). `grouping` and `offsets` must outlive the columns.
std::vector<ExtraColumn> SurveyColumns(const SurveyGrouping &grouping,
                                       const SurveyOffsets &offsets);

// The row of station k, cells in the order of companion_columns.
std::vector<CompanionCell> CompanionRow(const TQcStations &stations, size_t k);

// The text of a status and of a flag, as the table writes them.
const char *StatusText(QcStatus status);
const char *FlagText(const QcStation &station);

// The table's path beside a result: its extension replaced by ".csv"
// (survey_res.dat gives survey_res.csv; no extension: ".csv" appended).
std::string CompanionPath(const std::string &result_path);

// A number in the shortest form that reads back to the same double; empty for
// NaN.
std::string ShortestNumber(double value);

// A field as RFC 4180 writes it: quoted when it holds a comma, a quote or a
// line end, with each quote doubled.
std::string CsvField(std::string_view text);

// Writes the table to `path`, through a temporary file that replaces an
// earlier table only once complete. Throws FileError naming the path and the
// system's reason when it cannot be written.
void WriteCompanionTable(const std::string &path, const TQcStations &stations,
                         const std::vector<ExtraColumn> &extra = {});
// The same into `file`, begun for `path` with a run's other outputs, and
// finished (platform/OutputSet.h puts it in place). Throws as above; the
// temporary file is then gone.
void WriteCompanionTable(TFileReplacement &file, const std::string &path,
                         const TQcStations &stations,
                         const std::vector<ExtraColumn> &extra = {});

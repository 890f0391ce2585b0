// The companion table's rows, numbers and CSV text.
#include "qc/CompanionTable.h"

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <system_error>

#include "platform/FileError.h"
#include "platform/FileReplacement.h"

namespace {

constexpr const char *csv_line_end = "\r\n"; // as RFC 4180 has it

CompanionCell Real(double value) {
    CompanionCell cell;
    if (value == value) {
        cell.kind = CompanionCell::Kind::Real;
        cell.real = value;
    }
    return cell;
}

CompanionCell Text(std::string_view text) {
    CompanionCell cell;
    cell.kind = CompanionCell::Kind::Text;
    cell.text = text;
    return cell;
}

std::string CellText(const CompanionCell &cell) {
    switch (cell.kind) {
    case CompanionCell::Kind::Text:
        return CsvField(cell.text);
    case CompanionCell::Kind::Real:
        return ShortestNumber(cell.real);
    case CompanionCell::Kind::Integer:
        return std::to_string(cell.integer);
    case CompanionCell::Kind::Empty:
        break;
    }
    return {};
}

std::string SystemReason(int error) {
    return std::system_category().message(error);
}

} // namespace

ExtraColumn NumberColumn(std::string name,
                         std::function<double(size_t)> value) {
    return {std::move(name), false, [value = std::move(value)](size_t k) {
                CompanionCell cell;
                const double v = value(k);
                if (v == v) {
                    cell.kind = CompanionCell::Kind::Real;
                    cell.real = v;
                }
                return cell;
            }};
}

std::vector<ExtraColumn> DiagnosisColumns(const TQcStations &stations,
                                          const Diagnosis &diagnosis,
                                          const std::vector<double> &dem) {
    const auto dem_of = [&dem](size_t k) {
        return k < dem.size() ? dem[k] : qc_none;
    };
    const auto found = [&diagnosis](size_t k) { return diagnosis.Of(k); };
    std::vector<ExtraColumn> columns;
    columns.push_back(NumberColumn("z_cal", [&stations, &diagnosis](size_t k) {
        return stations[k].Z() / diagnosis.z_calibration;
    }));
    columns.push_back(NumberColumn("h_dem", dem_of));
    columns.push_back(NumberColumn("dh", [&stations, dem_of](size_t k) {
        return stations[k].h - dem_of(k);
    }));
    columns.push_back(NumberColumn("h_estimate", [&stations](size_t k) {
        return stations[k].h_estimate;
    }));
    columns.push_back({"cause", true, [found](size_t k) {
                           CompanionCell cell;
                           if (const StationDiagnosis *d = found(k)) {
                               cell.kind = CompanionCell::Kind::Text;
                               cell.text = CauseName(d->cause);
                               // An ambiguous station lists the causes
                               // that fit it.
                               if (!d->fitting.empty()) {
                                   cell.text += " (" + d->fitting + ")";
                               }
                           }
                           return cell;
                       }});
    columns.push_back(NumberColumn("fix_value", [found](size_t k) {
        const StationDiagnosis *d = found(k);
        return d ? d->fix_value : qc_none;
    }));
    columns.push_back(NumberColumn("fix_h", [found](size_t k) {
        const StationDiagnosis *d = found(k);
        return d ? d->fix_h : qc_none;
    }));
    columns.push_back(NumberColumn("r2_fixed", [found](size_t k) {
        const StationDiagnosis *d = found(k);
        return d ? d->r2_fixed : qc_none;
    }));
    return columns;
}

std::vector<ExtraColumn> SurveyColumns(const SurveyGrouping &grouping,
                                       const SurveyOffsets &offsets) {
    std::vector<ExtraColumn> columns;
    columns.push_back({survey_columns[0], true, [&grouping](size_t k) {
                           CompanionCell cell;
                           if (k < grouping.survey.size()) {
                               cell.kind = CompanionCell::Kind::Text;
                               cell.text = grouping.names[grouping.survey[k]];
                           }
                           return cell;
                       }});
    columns.push_back(
        NumberColumn(survey_columns[1], [&grouping, &offsets](size_t k) {
            if (k >= grouping.survey.size() ||
                grouping.survey[k] >= offsets.surveys.size()) {
                return qc_none;
            }
            return offsets.surveys[grouping.survey[k]].offset;
        }));
    return columns;
}

const char *StatusText(QcStatus status) {
    switch (status) {
    case QcStatus::Ok:
        return "ok";
    case QcStatus::Blank:
        return "blank";
    case QcStatus::Skipped:
        return "skipped";
    case QcStatus::Duplicate:
        return "duplicate";
    case QcStatus::NotReached:
        return "not-reached";
    }
    return "";
}

const char *FlagText(const QcStation &station) {
    return station.suspect ? "suspect" : "";
}

std::vector<CompanionCell> CompanionRow(const TQcStations &stations, size_t k) {
    const QcStation &s = stations[k];
    std::vector<CompanionCell> row;
    row.reserve(std::size(companion_columns));
    row.push_back(Text(stations.Name(k)));
    row.push_back(Real(s.x));
    row.push_back(Real(s.y));
    row.push_back(Real(s.h));
    row.push_back(Real(s.value));
    row.push_back(Real(s.estimate_all));
    row.push_back(Real(s.estimate_without));
    row.push_back(Real(s.R1()));
    row.push_back(Real(s.R2()));
    row.push_back(Real(s.sigma));
    row.push_back(Real(s.Z()));
    row.push_back(Real(s.r2_clean));
    row.push_back(Real(s.half_size));
    CompanionCell n;
    if (s.n >= 0) {
        n.kind = CompanionCell::Kind::Integer;
        n.integer = s.n;
    }
    row.push_back(n);
    row.push_back(Text(StatusText(s.status)));
    row.push_back(Text(FlagText(s)));
    return row;
}

std::string CompanionPath(const std::string &result_path) {
    const std::string::size_type slash = result_path.rfind('/');
    const std::string::size_type dot = result_path.rfind('.');
    const bool has_extension =
        dot != std::string::npos && (slash == std::string::npos || dot > slash);
    return (has_extension ? result_path.substr(0, dot) : result_path) + ".csv";
}

std::string ShortestNumber(double value) {
    if (value != value) {
        return {};
    }
    char buffer[32];
    const std::to_chars_result written =
        std::to_chars(buffer, buffer + sizeof buffer, value);
    return std::string(buffer, written.ptr);
}

std::string CsvField(std::string_view text) {
    if (text.find_first_of(",\"\r\n") == std::string_view::npos) {
        return std::string(text);
    }
    std::string quoted = "\"";
    for (const char c : text) {
        if (c == '"') {
            quoted += '"';
        }
        quoted += c;
    }
    quoted += '"';
    return quoted;
}

void WriteCompanionTable(const std::string &path, const TQcStations &stations,
                         const std::vector<ExtraColumn> &extra) {
    TFileReplacement file;
    int error = 0;
    if (!file.Begin(path, error)) {
        throw FileError("Cannot write file \"" + path + "\". " +
                        SystemReason(error));
    }
    WriteCompanionTable(file, path, stations, extra);
    error = file.Publish();
    if (error != 0) {
        throw FileError("Cannot write file \"" + path + "\". " +
                        SystemReason(error));
    }
}

void WriteCompanionTable(TFileReplacement &file, const std::string &path,
                         const TQcStations &stations,
                         const std::vector<ExtraColumn> &extra) {
    int error = 0;
    std::string text;
    const auto flush = [&] {
        if (std::fwrite(text.data(), 1, text.size(), file.File()) !=
            text.size()) {
            const int lost = errno != 0 ? errno : EIO;
            file.Abandon();
            throw FileError("Cannot write file \"" + path + "\". " +
                            SystemReason(lost));
        }
        text.clear();
    };
    for (const char *column : companion_columns) {
        text += column;
        text += ',';
    }
    for (const ExtraColumn &column : extra) {
        text += CsvField(column.name);
        text += ',';
    }
    text.back() = '\r';
    text += '\n';
    for (size_t k = 0; k < stations.Size(); ++k) {
        const std::vector<CompanionCell> row = CompanionRow(stations, k);
        for (size_t c = 0; c < row.size(); ++c) {
            if (c > 0) {
                text += ',';
            }
            text += CellText(row[c]);
        }
        for (const ExtraColumn &column : extra) {
            text += ',';
            text += CellText(column.cell(k));
        }
        text += csv_line_end;
        if (text.size() > (size_t{1} << 16)) {
            flush();
        }
    }
    flush();
    error = file.Finish();
    if (error != 0) {
        throw FileError("Cannot write file \"" + path + "\". " +
                        SystemReason(error));
    }
}

// The batch tool's host: terminal progress, stop on Ctrl-C, the summary.
#include "cli/BatchHost.h"

#include <algorithm>
#include <atomic>
#include <charconv>
#include <cmath>
#include <csignal>

#include "app/SurveyReport.h"
#include "platform/TemporaryFiles.h"

namespace {

// Set by the signal handler, which may run on any of the run's threads; a
// lock-free atomic is safe both there and for the run's thread that reads it.
std::atomic<bool> interrupted{false};
static_assert(std::atomic<bool>::is_always_lock_free);

// Called from the signal handler of the first Ctrl-C.
void OnInterrupt() { interrupted.store(true); }

// Suspects, duplicate positions and close pairs listed in the summary at
// most; the companion table holds them all.
constexpr size_t max_suspects_shown = 10;
constexpr size_t max_pairs_shown = 10;

// A number with `decimals` decimals and a point, whatever the locale.
std::string FormatFixed(double value, int decimals) {
    char text[64];
    const auto written = std::to_chars(text, text + sizeof text, value,
                                       std::chars_format::fixed, decimals);
    return std::string(text, written.ptr);
}

// Redraw the progress line at most this often.
constexpr auto redraw_interval = std::chrono::milliseconds(200);
constexpr int bar_width = 30;

std::string FormatDuration(double seconds) {
    const auto total = static_cast<int64_t>(seconds + 0.5);
    char text[32];
    if (total >= 3600) {
        std::snprintf(text, sizeof text, "%lld:%02lld:%02lld",
                      static_cast<long long>(total / 3600),
                      static_cast<long long>(total / 60 % 60),
                      static_cast<long long>(total % 60));
    } else {
        std::snprintf(text, sizeof text, "%lld:%02lld",
                      static_cast<long long>(total / 60),
                      static_cast<long long>(total % 60));
    }
    return text;
}

} // namespace

void InstallStopOnInterrupt() { InstallTemporaryCleanup(OnInterrupt); }

bool InterruptRequested() { return interrupted.load(); }

TBatchHost::TBatchHost(std::FILE *messages_, bool show_progress_, bool verbose_)
    : messages(messages_), show_progress(show_progress_), verbose(verbose_),
      started(std::chrono::steady_clock::now()) {}

void TBatchHost::SetProgressMax(int32_t maximum) {
    progress_max = maximum;
    passing = true;
    started = std::chrono::steady_clock::now();
}

void TBatchHost::StationsLoaded(int64_t count) { loaded = count; }

void TBatchHost::LineNotRead(int64_t line, std::string_view text) {
    if (!verbose) {
        return;
    }
    ClearProgressLine();
    std::fprintf(messages, "line %lld not read: %s\n",
                 static_cast<long long>(line),
                 TRunReport::ShortLine(text).c_str());
}

void TBatchHost::SetProgressPosition(int32_t position) {
    progress_position = position;
}

int32_t TBatchHost::ProgressPosition() { return progress_position; }

void TBatchHost::ProcessPendingEvents() {
    // Nothing to draw while the stations load.
    if (!show_progress || !passing) {
        return;
    }
    const auto now = std::chrono::steady_clock::now();
    if (progress_drawn && now - last_drawn < redraw_interval) {
        return;
    }
    last_drawn = now;
    DrawProgress(false);
}

void TBatchHost::ClearStopRequest() { interrupted.store(false); }

bool TBatchHost::StopRequested() { return interrupted.load(); }

void TBatchHost::SetRunning(bool running) {
    // The finished bar stays on its own line above the summary.
    if (!running && progress_drawn) {
        DrawProgress(true);
        std::fprintf(messages, "\n");
        std::fflush(messages);
        progress_drawn = false;
    }
}

void TBatchHost::ShowMessage(const std::string &text) {
    ClearProgressLine();
    std::fprintf(messages, "%s\n", text.c_str());
    std::fflush(messages);
}

void TBatchHost::ShowError(const std::string &text) {
    ClearProgressLine();
    std::fprintf(messages, "error: %s\n", text.c_str());
    std::fflush(messages);
}

void TBatchHost::StationDone(const StationOutcome &) { ++done; }

void TBatchHost::DrawProgress(bool final) {
    const int64_t total = loaded;
    const double fraction =
        total > 0 ? std::min(1.0, static_cast<double>(done) / total) : 1.0;
    const double elapsed = std::chrono::duration<double>(
                               std::chrono::steady_clock::now() - started)
                               .count();
    const double rate = elapsed > 0.0 ? done / elapsed : 0.0;
    const int filled = static_cast<int>(fraction * bar_width);
    std::string bar(filled, '#');
    bar.append(bar_width - filled, '.');
    std::string left = "--:--";
    if (rate > 0.0 && total > done) {
        left = FormatDuration((total - done) / rate);
    } else if (final || total <= done) {
        left = "0:00";
    }
    std::fprintf(messages, "\r[%s] %lld stations %5.1f%% %8.1f/s %s left\033[K",
                 bar.c_str(), static_cast<long long>(done), 100.0 * fraction,
                 rate, left.c_str());
    std::fflush(messages);
    progress_drawn = true;
}

void TBatchHost::ClearProgressLine() {
    if (progress_drawn) {
        std::fprintf(messages, "\r\033[K");
        progress_drawn = false;
    }
}

void TBatchHost::PrintSummary(std::FILE *to, const RunOutcome &outcome,
                              const RunSettings &settings, bool written) const {
    const TRunReport &report = outcome.report;
    const RunFigures &figures = outcome.figures;
    const auto count = [](int64_t n) { return static_cast<long long>(n); };
    if (outcome.result == CalcResult::Stopped) {
        std::fprintf(
            to,
            "Stopped after %lld of %lld stations (written: %lld, skipped: "
            "%lld, with a blank estimate (written as 0.000): %lld)\n",
            count(figures.read), count(outcome.loaded), count(figures.written),
            count(figures.skipped), count(figures.blank));
    } else {
        std::fprintf(to,
                     "Stations read: %lld, %s: %lld, skipped: %lld, with "
                     "a blank estimate (written as 0.000): %lld\n",
                     count(figures.read),
                     written ? "written" : "with a line (not written)",
                     count(figures.written), count(figures.skipped),
                     count(figures.blank));
    }
    if (report.UnreadCount() > 0) {
        std::fprintf(to, "Lines not read as stations: %lld\n",
                     count(report.UnreadCount()));
        if (!verbose) {
            for (const std::string &line : report.DescribeUnread()) {
                std::fprintf(to, "  %s\n", line.c_str());
            }
            const int64_t more =
                report.UnreadCount() -
                static_cast<int64_t>(report.FirstUnread().size());
            if (more > 0) {
                std::fprintf(to,
                             "  ... and %lld more (all of them with "
                             "--verbose)\n",
                             count(more));
            }
        }
    }
    // The gridder's refusals went to standard error as they were reported.
    const std::vector<std::string> reasons = report.Describe();
    for (size_t k = 0; k < reasons.size(); ++k) {
        if (report.Tallies()[k].issue != StationIssue::GridRefused) {
            std::fprintf(to, "%s\n", reasons[k].c_str());
        }
    }
    if (figures.with_r2 > 0) {
        std::fprintf(to,
                     "r2 over %lld stations: mean %.3f mGal, RMS %.3f mGal, "
                     "largest |r2| %.3f mGal "
                     "at station %s\n",
                     count(figures.with_r2), figures.MeanR2(), figures.RmsR2(),
                     figures.largest_abs_r2, figures.largest_station.c_str());
    }
    PrintQuality(to, outcome, settings, written);
    for (const std::string &line : SurveyLines(outcome.qc, settings.qc, verbose)) {
        std::fprintf(to, "%s\n", line.c_str());
    }
    for (const std::string &note : outcome.notes) {
        std::fprintf(to, "%s\n", note.c_str());
    }
}

namespace {

// A fix as the summary proposes it: the value (and height) that would fit.
std::string FixText(const StationDiagnosis &found) {
    std::string text;
    if (found.fix_value == found.fix_value) {
        text = "value " + FormatFixed(found.fix_value, 3);
    }
    if (found.fix_h == found.fix_h) {
        text += ", h " + FormatFixed(found.fix_h, 1);
    }
    if (found.r2_fixed == found.r2_fixed) {
        text += " (r2 " + FormatFixed(found.r2_fixed, 3) + ")";
    }
    if (found.cause == Cause::Ambiguous && !found.fitting.empty()) {
        text = "fits " + found.fitting;
    }
    return text;
}

} // namespace

void TBatchHost::PrintDiagnosis(std::FILE *to, const QcFindings &qc,
                                const RunSettings &settings) const {
    const Diagnosis &diagnosis = qc.diagnosis;
    const int64_t rough = diagnosis.Count(Cause::RoughGround);
    if (rough > 0) {
        std::fprintf(to,
                     "Let go as rough ground: %lld (they stood out, but no "
                     "more than their neighbours vary; rough-ground in the "
                     "table)\n",
                     static_cast<long long>(rough));
    }
    if (!qc.dem.empty()) {
        std::fprintf(to,
                     "Heights farther than %.3g m from the DEM's, the value "
                     "not a suspect: %lld (height-only in the table); station "
                     "heights and the DEM are taken to be on the same "
                     "vertical datum\n",
                     settings.qc.dem_tolerance,
                     static_cast<long long>(diagnosis.Count(Cause::HeightOnly)));
    }
    if (diagnosis.z_calibration == diagnosis.z_calibration) {
        std::fprintf(to,
                     "z calibration: c = %.3g (z_cal = z / c leaves 5%% of "
                     "the good stations beyond 1.96%s)\n",
                     diagnosis.z_calibration,
                     diagnosis.z_calibration > 2.0 || diagnosis.z_calibration < 0.5
                         ? "; the model's variance is far from the residuals' "
                           "scatter"
                         : "");
    }
    const DensityCheck &density = diagnosis.density;
    if (!density.done) {
        if (!density.skipped_because.empty()) {
            std::fprintf(to, "Density check skipped: %s\n",
                         density.skipped_because.c_str());
        }
        return;
    }
    std::fprintf(to,
                 "Density check over %lld stations: the residuals prefer "
                 "%.3f +- %.3f g/cm3 (slope %.5f +- %.5f mGal/m against the "
                 "height residual); the survey was reduced with %.2f\n",
                 static_cast<long long>(density.stations), density.density,
                 density.density_error, density.slope, density.slope_error,
                 density.used);
    if (density.differs) {
        std::fprintf(to,
                     "  The density the residuals prefer differs from "
                     "--density %.2f by more than three standard errors: the "
                     "survey may have been reduced with another density, or "
                     "the ground's differs.\n",
                     density.used);
    }
}

void TBatchHost::PrintQuality(std::FILE *to, const RunOutcome &outcome,
                              const RunSettings &settings, bool written) const {
    const QcFindings &qc = outcome.qc;
    if (!qc.checked) {
        return;
    }
    const TQcStations &stations = qc.stations;
    const SuspectFindings &suspects = qc.suspects;
    if (suspects.scale > 0.0) {
        std::fprintf(to,
                     "Suspects: %zu (r2 beyond %.3g robust scales of %.3f "
                     "mGal, judged against their neighbours)\n",
                     suspects.suspects.size(), settings.qc.suspect_threshold,
                     suspects.scale);
    } else {
        std::fprintf(to, "Suspects: none can be judged (r2 has no spread)\n");
    }
    const Diagnosis &diagnosis = qc.diagnosis;
    if (!suspects.suspects.empty()) {
        std::string line = "  causes:";
        for (const Cause cause : all_causes) {
            const int64_t n = diagnosis.Count(cause);
            if (n > 0 && cause != Cause::HeightOnly &&
                cause != Cause::RoughGround) {
                line += std::string(" ") + CauseName(cause) + " " +
                        std::to_string(n) + ",";
            }
        }
        line.pop_back();
        std::fprintf(to, "%s\n", line.c_str());
    }
    const size_t shown =
        std::min<size_t>(suspects.suspects.size(), max_suspects_shown);
    if (shown > 0) {
        std::fprintf(to, "  %-12s %14s %14s %10s %8s  %-11s %s\n", "station",
                     "x", "y", "r2", "z", "cause", "proposed fix");
    }
    for (size_t k = 0; k < shown; ++k) {
        const size_t s = suspects.suspects[k];
        const QcStation &station = stations[s];
        const double z = station.Z();
        const StationDiagnosis *found = diagnosis.Of(s);
        std::fprintf(to, "  %-12s %14.2f %14.2f %10.3f %8s  %-11s %s\n",
                     std::string(stations.Name(s)).c_str(), station.x,
                     station.y, station.R2(),
                     z == z ? FormatFixed(z, 2).c_str() : "",
                     found != nullptr ? CauseName(found->cause) : "",
                     found != nullptr ? FixText(*found).c_str() : "");
    }
    if (suspects.suspects.size() > shown) {
        std::fprintf(to, "  ... %zu more in the companion table\n",
                     suspects.suspects.size() - shown);
    }
    PrintDiagnosis(to, qc, settings);
    const DuplicateFindings &duplicates = qc.duplicates;
    if (!duplicates.positions.empty()) {
        std::fprintf(to, "Positions held by more than one station: %zu\n",
                     duplicates.positions.size());
        for (size_t k = 0;
             k < std::min<size_t>(duplicates.positions.size(), max_pairs_shown);
             ++k) {
            const DuplicatePosition &position = duplicates.positions[k];
            const QcStation &first = stations[position.stations.front()];
            std::string line = "  " + FormatFixed(first.x, 2) + " " +
                               FormatFixed(first.y, 2) + ":";
            for (const size_t s : position.stations) {
                line += " " + std::string(stations.Name(s)) + " (" +
                        FormatFixed(stations[s].value, 3) + ")";
            }
            const size_t last = position.stations.back();
            line += ", difference " +
                    FormatFixed(stations[last].value - first.value, 3) +
                    " mGal";
            std::fprintf(to, "%s\n", line.c_str());
        }
    }
    if (!duplicates.close_pairs.empty()) {
        std::fprintf(to, "Pairs closer than %.3g m: %zu%s\n",
                     settings.qc.duplicate_distance,
                     duplicates.close_pairs.size(),
                     duplicates.close_pairs_cut ? " (at least)" : "");
        for (size_t k = 0; k < std::min<size_t>(duplicates.close_pairs.size(),
                                                max_pairs_shown);
             ++k) {
            const ClosePair &pair = duplicates.close_pairs[k];
            const QcStation &a = stations[pair.first];
            const QcStation &b = stations[pair.second];
            std::fprintf(to,
                         "  %s (%.3f) and %s (%.3f), %.3f m apart, difference "
                         "%.3f mGal\n",
                         std::string(stations.Name(pair.first)).c_str(),
                         a.value,
                         std::string(stations.Name(pair.second)).c_str(),
                         b.value, pair.distance, b.value - a.value);
        }
    }
    if (!qc.table_path.empty() && written) {
        std::fprintf(to, "Companion table written to %s\n",
                     qc.table_path.c_str());
    }
}

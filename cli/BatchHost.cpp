// The batch tool's host: terminal progress, stop on Ctrl-C, the summary.
#include "cli/BatchHost.h"

#include <atomic>
#include <cmath>
#include <csignal>

namespace {

// Set by the signal handler, which may run on any of the run's threads; a
// lock-free atomic is safe both there and for the run's thread that reads it.
std::atomic<bool> interrupted{false};
static_assert(std::atomic<bool>::is_always_lock_free);

extern "C" void OnInterrupt(int) { interrupted.store(true); }

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

void InstallStopOnInterrupt() {
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESETHAND; // a second Ctrl-C ends the process
    sigaction(SIGINT, &action, nullptr);
}

bool InterruptRequested() { return interrupted.load(); }

TBatchHost::TBatchHost(BatchFields fields_, std::FILE *messages_,
                       bool show_progress_, bool verbose_)
    : fields(std::move(fields_)), messages(messages_),
      show_progress(show_progress_), verbose(verbose_),
      started(std::chrono::steady_clock::now()) {}

std::string TBatchHost::FieldText(CalcField field) {
    switch (field) {
    case CalcField::Data:
        return fields.data;
    case CalcField::SearchDistance:
        return fields.search_distance;
    case CalcField::Increment:
        return fields.increment;
    case CalcField::MinPoints:
        return fields.min_points;
    case CalcField::CellSize:
        return fields.cell_size;
    case CalcField::Output:
        return fields.output;
    }
    return {};
}

void TBatchHost::SetProgressMax(int32_t maximum) {
    progress_max = maximum;
    passing = true;
    started = std::chrono::steady_clock::now();
}

void TBatchHost::StationsLoaded(int64_t loaded) { summary.loaded = loaded; }

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
    ++summary.messages;
    ClearProgressLine();
    std::fprintf(messages, "%s\n", text.c_str());
    std::fflush(messages);
}

void TBatchHost::ShowError(const std::string &text) {
    ClearProgressLine();
    std::fprintf(messages, "error: %s\n", text.c_str());
    std::fflush(messages);
}

void TBatchHost::StationDone(const StationOutcome &outcome) {
    ++summary.read;
    if (!outcome.written) {
        return;
    }
    ++summary.written;
    if (outcome.blank_all || outcome.blank_without) {
        ++summary.blank;
    }
    if (outcome.blank_without) {
        return;
    }
    ++summary.with_r2;
    summary.sum_r2 += outcome.r2;
    summary.sum_r2_squared += outcome.r2 * outcome.r2;
    if (std::fabs(outcome.r2) > summary.largest_abs_r2) {
        summary.largest_abs_r2 = std::fabs(outcome.r2);
        summary.largest_station = outcome.name;
    }
}

void TBatchHost::DrawProgress(bool final) {
    const int64_t total = summary.loaded;
    const int64_t done = summary.read;
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

void TBatchHost::PrintSummary(std::FILE *to, const TCalcRun &run,
                              CalcResult result) const {
    const TRunReport &report = run.report;
    const auto count = [](int64_t n) { return static_cast<long long>(n); };
    if (result == CalcResult::Stopped) {
        std::fprintf(
            to,
            "Stations read: %lld, estimated before the stop: %lld "
            "(written: %lld, skipped: %lld, with a blank estimate "
            "(written as 0.000): %lld)\n",
            count(run.loaded), count(summary.read), count(summary.written),
            count(summary.read - summary.written), count(summary.blank));
    } else {
        std::fprintf(to,
                     "Stations read: %lld, written: %lld, skipped: %lld, with "
                     "a blank estimate (written as 0.000): %lld\n",
                     count(summary.read), count(summary.written),
                     count(summary.read - summary.written),
                     count(summary.blank));
    }
    if (report.UnreadCount() > 0) {
        std::fprintf(to, "Lines not read as stations: %lld\n",
                     count(report.UnreadCount()));
        if (!verbose) {
            for (const std::string &line : report.DescribeUnread()) {
                std::fprintf(to, "  %s\n", line.c_str());
            }
            if (report.UnreadCount() >
                static_cast<int64_t>(report.FirstUnread().size())) {
                std::fprintf(to, "  ... (all of them with --verbose)\n");
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
    if (summary.with_r2 == 0) {
        return;
    }
    const double n = static_cast<double>(summary.with_r2);
    std::fprintf(to,
                 "r2 over %lld stations: mean %.3f mGal, RMS %.3f mGal, "
                 "largest |r2| %.3f mGal "
                 "at station %s\n",
                 count(summary.with_r2), summary.sum_r2 / n,
                 std::sqrt(summary.sum_r2_squared / n), summary.largest_abs_r2,
                 summary.largest_station.c_str());
}

// The batch tool's host: terminal progress, stop on Ctrl-C, the summary.
#include "cli/BatchHost.h"

#include <atomic>
#include <cmath>
#include <csignal>

#include "platform/CodePage.h"

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
                       bool show_progress_)
    : fields(std::move(fields_)), messages(messages_),
      show_progress(show_progress_), started(std::chrono::steady_clock::now()) {
}

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
    started = std::chrono::steady_clock::now();
}

void TBatchHost::SetProgressPosition(int32_t position) {
    progress_position = position;
}

int32_t TBatchHost::ProgressPosition() { return progress_position; }

void TBatchHost::ProcessPendingEvents() {
    if (!show_progress) {
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
        summary.largest_station = CodePageToUtf8(outcome.station.point);
    }
}

void TBatchHost::DrawProgress(bool final) {
    // The bar counts stations: ten per step of the progress maximum.
    const int64_t total = static_cast<int64_t>(progress_max) * 10;
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

void TBatchHost::PrintSummary(std::FILE *to) const {
    std::fprintf(to,
                 "Stations read: %lld, written: %lld, skipped: %lld, with a "
                 "blank estimate "
                 "(written as 0.000): %lld\n",
                 static_cast<long long>(summary.read),
                 static_cast<long long>(summary.written),
                 static_cast<long long>(summary.read - summary.written),
                 static_cast<long long>(summary.blank));
    if (summary.unread > 0) {
        std::fprintf(to, "Lines not read as stations: %lld\n",
                     static_cast<long long>(summary.unread));
    }
    if (summary.with_r2 == 0) {
        std::fprintf(to, "No station has a leave-one-out estimate.\n");
        if (summary.written > 0 && summary.messages == 0) {
            // Every grid node was left blank: the kriging found too few
            // neighbours within the search distance, its search radius.
            std::fprintf(to, "The search distance is also the kriging search "
                             "radius: try one "
                             "larger than the station spacing.\n");
        }
        return;
    }
    const double n = static_cast<double>(summary.with_r2);
    std::fprintf(to,
                 "r2 over %lld stations: mean %.3f mGal, RMS %.3f mGal, "
                 "largest |r2| %.3f mGal "
                 "at station %s\n",
                 static_cast<long long>(summary.with_r2), summary.sum_r2 / n,
                 std::sqrt(summary.sum_r2_squared / n), summary.largest_abs_r2,
                 summary.largest_station.c_str());
}

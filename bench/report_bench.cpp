// What --report costs beyond the run at a national survey's size: a million
// stations with ten thousand suspects, their records built in memory
// (SyntheticRecords.h, no kriging), the survey written as a station file for
// the checksum, diagnosed as the run would. Times the checksum and the whole
// report (median of 3), against the figure as --plot writes it (the baseline,
// in the same run), and the resident memory the records take and the peak while
// the reports are written. Usage: report_bench [STATIONS [BLUNDER_EVERY [PDF]]]
// (default 1,000,000 and 97: 10,309 suspects; PDF: where to leave the report,
// to look at)
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <unistd.h>

#include <QDateTime>
#include <QSize>

#include "SyntheticRecords.h"
#include "plot/FigureFile.h"
#include "plot/FigureModel.h"
#include "plot/OffscreenGui.h"
#include "plot/Report.h"

namespace {

constexpr int32_t default_stations = 1000000;
constexpr int32_t default_blunder_every = 97;
constexpr int repeats = 3; // median of this many runs of each step
constexpr double kib_per_mib = 1024.0;

// A field of /proc/self/status ("VmRSS", "VmHWM"), MiB; -1 when unknown.
double StatusMiB(const std::string &field) {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind(field + ":", 0) == 0) {
            return std::atof(line.c_str() + field.size() + 1) / kib_per_mib;
        }
    }
    return -1.0;
}

// Starts the peak resident memory anew from what is resident now.
bool ResetPeak() {
    std::ofstream clear("/proc/self/clear_refs");
    clear << "5";
    return static_cast<bool>(clear);
}

void Print(const char *what, const Timing &t) {
    std::printf("  %-50s %8.3f s wall %8.3f s CPU\n", what, t.wall, t.cpu);
}

} // namespace

int main(int argc, char **argv) {
    const int32_t count = argc > 1 ? std::atoi(argv[1]) : default_stations;
    const int32_t every = argc > 2 ? std::atoi(argv[2]) : default_blunder_every;
    if (count <= 0 || every <= 0) {
        std::fprintf(stderr,
                     "usage: report_bench [STATIONS [BLUNDER_EVERY [PDF]]]\n");
        return 2;
    }
    const TOffscreenGui gui;
    const std::string folder = "/tmp/report_bench." + std::to_string(getpid());
    const std::string survey_path = folder + ".dat";
    const std::string pdf_path = argc > 3 ? argv[3] : folder + ".pdf";
    const std::string png_path = folder + ".png";
    {
        std::ofstream survey(survey_path, std::ios::binary);
        survey << FormatSyntheticSurvey(MakeSyntheticSurvey(count, 300.0, 7));
    }

    TQcStations stations;
    SuspectFindings suspects;
    MakeSyntheticRecords(count, every, stations, suspects);
    const DuplicateFindings duplicates;
    const RunFigures figures = FiguresOf(stations, suspects);
    // The diagnosis as the run makes it: a cause for every suspect, the
    // density check over the good stations.
    const Diagnosis diagnosis =
        Diagnose(stations, suspects, duplicates, {}, {}, DiagnosisOptions{});
    const double records_mib = StatusMiB("VmRSS");
    const bool peak_reset = ResetPeak();

    ReportContent content;
    const Timing checksum = Median(
        repeats, [&] { content.source = DescribeSurveyFile(survey_path); });
    content.version = "bench";
    content.program = "report_bench";
    content.written = QDateTime::currentDateTime();
    content.figures = &figures;
    content.stations = &stations;
    content.suspects = &suspects;
    content.duplicates = &duplicates;
    content.diagnosis = &diagnosis;
    const Timing report =
        Median(repeats, [&] { WriteReport(pdf_path, content); });
    const double peak_mib = StatusMiB("VmHWM");

    // Baseline: the figure as --plot writes it, PNG at its default size.
    const Timing figure = Median(repeats, [&] {
        const TFigureModel model(FigureHeader{content.source.name,
                                              content.parameters,
                                              content.suspect_rule.threshold},
                                 figures, stations, suspects, duplicates);
        WriteFigure(png_path, *FigureFormatOf(png_path), model,
                    QSize(default_figure_width, default_figure_height));
    });

    std::ifstream pdf(pdf_path, std::ios::binary | std::ios::ate);
    std::printf("report_bench: %d stations, %zu suspects, survey file %.1f "
                "MiB, report %.1f MiB, %zu rows a page\n",
                count, suspects.suspects.size(),
                static_cast<double>(content.source.size) / (1024.0 * 1024.0),
                static_cast<double>(pdf.tellg()) / (1024.0 * 1024.0),
                SuspectRowsPerPage(ReportPaper::A4));
    Print("checksum of the survey file (SHA-256)", checksum);
    Print("whole report (checksum not included)", report);
    Print("baseline: the figure as --plot writes it (PNG)", figure);
    std::printf("  report / figure, wall: %.1fx\n", report.wall / figure.wall);
    std::printf("  resident with the records: %.1f MiB; peak while reporting: "
                "%.1f MiB%s; the report's own: %.1f MiB\n",
                records_mib, peak_mib,
                peak_reset ? "" : " (peak not reset: since the start)",
                peak_mib - records_mib);
    std::remove(survey_path.c_str());
    std::remove(png_path.c_str());
    if (argc <= 3) {
        std::remove(pdf_path.c_str());
    }
    return 0;
}

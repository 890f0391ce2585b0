// The summary's figures, counted station by station.
#include "qc/RunFigures.h"

#include <cmath>

double RunFigures::MeanR2() const {
    return with_r2 > 0 ? sum_r2 / static_cast<double>(with_r2) : qc_none;
}

double RunFigures::RmsR2() const {
    return with_r2 > 0
               ? std::sqrt(sum_squares_r2 / static_cast<double>(with_r2))
               : qc_none;
}

void CountStation(RunFigures &figures, const QcStation &station,
                  std::string_view name) {
    switch (station.status) {
    case QcStatus::NotReached:
        ++figures.not_reached;
        return;
    case QcStatus::Skipped:
        ++figures.read;
        ++figures.skipped;
        return;
    case QcStatus::Ok:
        ++figures.estimated;
        break;
    case QcStatus::Blank:
        ++figures.blank;
        break;
    case QcStatus::Duplicate:
        ++figures.duplicates;
        break;
    }
    ++figures.read;
    ++figures.written;
    if (station.estimate_without == station.estimate_without) {
        ++figures.with_estimate;
    }
    if (!station.Judged()) {
        return;
    }
    const double r2 = station.R2();
    ++figures.with_r2;
    figures.sum_r2 += r2;
    figures.sum_squares_r2 += r2 * r2;
    // The first of equal largest residuals keeps its place.
    if (!(std::fabs(r2) <= figures.largest_abs_r2)) {
        figures.largest_abs_r2 = std::fabs(r2);
        figures.largest_station = name;
    }
}

void CountFindings(RunFigures &figures, const SuspectFindings &suspects) {
    figures.suspects = static_cast<int64_t>(suspects.suspects.size());
    figures.median = suspects.median;
    figures.scale = suspects.scale;
}

RunFigures FiguresOf(const TQcStations &stations,
                     const SuspectFindings &suspects) {
    RunFigures figures;
    for (size_t k = 0; k < stations.Size(); ++k) {
        CountStation(figures, stations[k], stations.Name(k));
    }
    CountFindings(figures, suspects);
    return figures;
}

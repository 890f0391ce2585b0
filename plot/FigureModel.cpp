// A run's figure prepared from quality control's records.
#include "plot/FigureModel.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numeric>

namespace {

// Bins of the histogram: about the square root of the stations, within
// these bounds; and its half-width beyond the thresholds, in robust scales,
// so that the thresholds and the tails past them show.
constexpr size_t min_histogram_bins = 12;
constexpr size_t max_histogram_bins = 60;
constexpr double histogram_margin_scales = 2.0;

// Bands of colour steps for the drawing order, the clipped ends the last.
constexpr int order_bands = 16;

bool Finite(double value) { return std::isfinite(value); }

// The colours' bound: colour_bound_scales robust scales; without a spread,
// the largest |r2|; without that, 1 mGal.
double ColourBound(double scale, double largest) {
    if (scale > 0.0 && Finite(scale)) {
        return colour_bound_scales * scale;
    }
    return largest > 0.0 ? largest : 1.0;
}

} // namespace

TFigureModel::TFigureModel(FigureHeader header_, const RunFigures &figures,
                           const TQcStations &stations_,
                           const SuspectFindings &suspects,
                           const DuplicateFindings &duplicates)
    : header(std::move(header_)), stations(&stations_), counts(figures) {
    const size_t n = stations_.Size();
    suspect_list = suspects.suspects;

    // The stations' extent, of those with numbers for coordinates.
    extent = {std::numeric_limits<double>::infinity(),
              std::numeric_limits<double>::infinity(),
              -std::numeric_limits<double>::infinity(),
              -std::numeric_limits<double>::infinity()};
    for (size_t k = 0; k < n; ++k) {
        const QcStation &s = stations_[k];
        if (Finite(s.x) && Finite(s.y)) {
            extent.x0 = std::min(extent.x0, s.x);
            extent.y0 = std::min(extent.y0, s.y);
            extent.x1 = std::max(extent.x1, s.x);
            extent.y1 = std::max(extent.y1, s.y);
        }
    }
    if (!(extent.x0 <= extent.x1)) {
        extent = WorldBox{};
    }
    scale = TColourScale(ColourBound(suspects.scale, counts.largest_abs_r2));

    // Flat arrays: offsets from the extent's south-west corner.
    origin_x = extent.x0;
    origin_y = extent.y0;
    offset_x.resize(n);
    offset_y.resize(n);
    dot_kind.resize(n);
    colour.resize(n);
    marks.assign(n, 0);
    for (size_t k = 0; k < n; ++k) {
        const QcStation &s = stations_[k];
        offset_x[k] = static_cast<float>(s.x - origin_x);
        offset_y[k] = static_cast<float>(s.y - origin_y);
        const double r2 = s.R2();
        if (!(Finite(s.x) && Finite(s.y))) {
            dot_kind[k] = DotKind::Hidden;
        } else if (s.status == QcStatus::Blank ||
                   s.status == QcStatus::Skipped || !Finite(r2)) {
            dot_kind[k] = DotKind::NoValue;
        } else {
            dot_kind[k] = DotKind::Value;
        }
        colour[k] = scale.Index(r2);
    }
    for (const size_t k : suspect_list) {
        marks[k] |= mark_suspect;
    }
    for (const DuplicatePosition &position : duplicates.positions) {
        for (const size_t k : position.stations) {
            marks[k] |= mark_duplicate;
        }
    }
    for (const ClosePair &pair : duplicates.close_pairs) {
        marks[pair.first] |= mark_duplicate;
        marks[pair.second] |= mark_duplicate;
    }
    for (size_t k = 0; k < n; ++k) {
        if ((marks[k] & mark_duplicate) != 0) {
            duplicate_list.push_back(k);
        }
    }

    // Drawing order: rings, then dots from the smallest |r2| to the largest,
    // so that the largest lie on top. Neighbouring colour steps look alike:
    // a counting sort into a few bands of steps keeps file order within a
    // band, so that the dots of one band are drawn sweeping the image once
    // rather than at random (a million dots draw several times faster). The
    // clipped steps at the ends, the last band and few, are sorted by |r2|.
    constexpr int half = TColourScale::steps / 2;
    const auto band = [&](size_t k) {
        const int distance = std::abs(colour[k] - half);
        return distance == half ? order_bands - 1
                                : distance * (order_bands - 1) / half;
    };
    std::vector<size_t> first(order_bands + 1, 0);
    size_t rings = 0;
    for (size_t k = 0; k < n; ++k) {
        if (dot_kind[k] == DotKind::NoValue) {
            ++rings;
        } else if (dot_kind[k] == DotKind::Value) {
            ++first[band(k) + 1];
        }
    }
    first[0] = rings;
    for (int b = 1; b <= order_bands; ++b) {
        first[b] += first[b - 1];
    }
    order.resize(first[order_bands]);
    size_t next_ring = 0;
    for (size_t k = 0; k < n; ++k) {
        if (dot_kind[k] == DotKind::NoValue) {
            order[next_ring++] = static_cast<uint32_t>(k);
        } else if (dot_kind[k] == DotKind::Value) {
            order[first[band(k)]++] = static_cast<uint32_t>(k);
        }
    }
    // Each first[b] now ends band b: first[order_bands - 2] begins the last.
    std::stable_sort(
        order.begin() + static_cast<std::ptrdiff_t>(first[order_bands - 2]),
        order.end(), [&stations_](uint32_t a, uint32_t b) {
            return std::fabs(stations_[a].R2()) < std::fabs(stations_[b].R2());
        });

    // Histogram: around the median, past the thresholds on both sides.
    const double threshold = header.suspect_threshold;
    double low = 0.0, high = 0.0;
    if (suspects.scale > 0.0 && Finite(suspects.scale) &&
        Finite(suspects.median)) {
        histogram.lower_threshold =
            suspects.median - threshold * suspects.scale;
        histogram.upper_threshold =
            suspects.median + threshold * suspects.scale;
        const double half =
            (threshold + histogram_margin_scales) * suspects.scale;
        low = suspects.median - half;
        high = suspects.median + half;
    } else if (counts.with_r2 > 0) {
        // No spread to judge by: the whole range of r2.
        low = std::numeric_limits<double>::infinity();
        high = -low;
        for (size_t k = 0; k < n; ++k) {
            if (stations_[k].Judged()) {
                low = std::min(low, stations_[k].R2());
                high = std::max(high, stations_[k].R2());
            }
        }
        if (!(high > low)) {
            low -= 1.0;
            high += 1.0;
        }
    }
    histogram.low = low;
    histogram.high = high;
    if (counts.with_r2 > 0) {
        const size_t histogram_bins = std::clamp(
            static_cast<size_t>(std::sqrt(static_cast<double>(counts.with_r2))),
            min_histogram_bins, max_histogram_bins);
        histogram.counts.assign(histogram_bins, 0);
        const double width = (high - low) / histogram_bins;
        for (size_t k = 0; k < n; ++k) {
            if (!stations_[k].Judged()) {
                continue;
            }
            const double r2 = stations_[k].R2();
            if (r2 < histogram.lower_threshold) {
                ++histogram.beyond_lower;
            }
            if (r2 > histogram.upper_threshold) {
                ++histogram.beyond_upper;
            }
            if (r2 < low) {
                ++histogram.below;
            } else if (r2 > high) {
                ++histogram.above;
            } else {
                const auto bin =
                    std::min(static_cast<size_t>((r2 - low) / width),
                             histogram_bins - 1);
                ++histogram.counts[bin];
            }
        }
    }
}

int64_t TFigureModel::Nearest(double x, double y, double within) const {
    const double fx = x - origin_x;
    const double fy = y - origin_y;
    double best = within * within;
    int64_t found = -1;
    for (size_t k = 0; k < dot_kind.size(); ++k) {
        if (dot_kind[k] == DotKind::Hidden) {
            continue;
        }
        const double dx = offset_x[k] - fx;
        const double dy = offset_y[k] - fy;
        const double d = dx * dx + dy * dy;
        if (d <= best) {
            best = d;
            found = static_cast<int64_t>(k);
        }
    }
    return found;
}

void TFigureModel::SetSurveys(const SurveyGrouping &grouping,
                              const SurveyOffsets &offsets) {
    outlines.clear();
    if (grouping.Count() < 2) {
        return;
    }
    std::vector<std::vector<HullPoint>> hulls = SurveyHulls(*stations, grouping);
    for (size_t s = 0; s < hulls.size(); ++s) {
        SurveyOutline outline;
        outline.hull = std::move(hulls[s]);
        if (s < offsets.surveys.size() && offsets.surveys[s].shifted) {
            char offset[32];
            std::snprintf(offset, sizeof offset, " %+.2f mGal",
                          offsets.surveys[s].offset);
            outline.label = grouping.names[s] + offset;
        }
        outlines.push_back(std::move(outline));
    }
}

std::string TFigureModel::Label(size_t k) const {
    std::string label(stations->Name(k));
    const StationDiagnosis *found =
        diagnosis != nullptr ? diagnosis->Of(k) : nullptr;
    if (found != nullptr && found->cause != Cause::None) {
        label += ' ';
        label += CauseName(found->cause);
    }
    return label;
}

// The spacing of a survey, the parameters it suggests and the look of its
// numbers.
#include "qc/SurveyShape.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>

namespace {

// A grid of square buckets over the stations, about four stations a bucket,
// for finding a station's neighbours ring by ring. Stations far outside the
// bulk of the survey fall into the edge buckets, so a stray station does not
// stretch the grid.
class TBucketGrid {
  public:
    TBucketGrid(const std::vector<double> &x_, const std::vector<double> &y_)
        : x(x_), y(y_) {
        const size_t n = x.size();
        std::vector<double> sx(x), sy(y);
        const auto quantile = [](std::vector<double> &v, double q) {
            const size_t k =
                static_cast<size_t>(q * static_cast<double>(v.size() - 1));
            std::nth_element(v.begin(), v.begin() + k, v.end());
            return v[k];
        };
        x0 = quantile(sx, 0.01);
        const double x1 = quantile(sx, 0.99);
        y0 = quantile(sy, 0.01);
        const double y1 = quantile(sy, 0.99);
        const double width = std::max(x1 - x0, 0.0);
        const double height = std::max(y1 - y0, 0.0);
        const double per_bucket = 4.0;
        double area = width * height;
        if (!(area > 0.0)) {
            area = std::max(width, height) * std::max(width, height);
        }
        side = std::sqrt(area * per_bucket / static_cast<double>(n));
        if (!(side > 0.0) || !std::isfinite(side)) {
            side = 1.0;
        }
        const double max_buckets = 4096.0; // a side, so the grid stays small
        nx = static_cast<int64_t>(
                 std::min(max_buckets, std::floor(width / side))) +
             1;
        ny = static_cast<int64_t>(
                 std::min(max_buckets, std::floor(height / side))) +
             1;
        start.assign(static_cast<size_t>(nx * ny) + 1, 0);
        for (size_t k = 0; k < n; ++k) {
            ++start[Bucket(x[k], y[k]) + 1];
        }
        for (size_t b = 1; b < start.size(); ++b) {
            start[b] += start[b - 1];
        }
        members.resize(n);
        std::vector<size_t> fill(start.begin(), start.end() - 1);
        for (size_t k = 0; k < n; ++k) {
            members[fill[Bucket(x[k], y[k])]++] = static_cast<uint32_t>(k);
        }
    }

    // Distances from station k to the others, smallest first, `count` of
    // them (fewer when the survey has fewer): Euclidean, or Chebyshev (the
    // half-size of a square around it) with `square`.
    void Nearest(size_t k, size_t count, bool square,
                 std::vector<double> &found) const {
        found.clear();
        const int64_t ci = Column(x[k]), cj = Row(y[k]);
        const int64_t rings = std::max(nx, ny);
        for (int64_t r = 0; r <= rings; ++r) {
            for (int64_t i = ci - r; i <= ci + r; ++i) {
                if (i < 0 || i >= nx) {
                    continue;
                }
                const bool edge_column = i == ci - r || i == ci + r;
                for (int64_t j = cj - r; j <= cj + r;
                     j += edge_column ? 1 : std::max<int64_t>(1, 2 * r)) {
                    if (j < 0 || j >= ny) {
                        continue;
                    }
                    const size_t b = static_cast<size_t>(i * ny + j);
                    for (size_t m = start[b]; m < start[b + 1]; ++m) {
                        const uint32_t other = members[m];
                        if (other == k) {
                            continue;
                        }
                        const double dx = std::fabs(x[other] - x[k]);
                        const double dy = std::fabs(y[other] - y[k]);
                        found.push_back(square ? std::max(dx, dy)
                                               : std::hypot(dx, dy));
                    }
                }
            }
            // Every station within r buckets' width is among those found.
            if (found.size() >= count) {
                std::nth_element(found.begin(), found.begin() + (count - 1),
                                 found.end());
                if (found[count - 1] <= static_cast<double>(r) * side) {
                    break;
                }
            }
        }
        std::sort(found.begin(), found.end());
        if (found.size() > count) {
            found.resize(count);
        }
    }

  private:
    int64_t Column(double v) const {
        return std::clamp<int64_t>(
            static_cast<int64_t>(std::floor(
                std::clamp((v - x0) / side, -1.0, static_cast<double>(nx)))),
            0, nx - 1);
    }
    int64_t Row(double v) const {
        return std::clamp<int64_t>(
            static_cast<int64_t>(std::floor(
                std::clamp((v - y0) / side, -1.0, static_cast<double>(ny)))),
            0, ny - 1);
    }
    size_t Bucket(double px, double py) const {
        return static_cast<size_t>(Column(px) * ny + Row(py));
    }

    const std::vector<double> &x, &y;
    double x0 = 0.0, y0 = 0.0, side = 1.0;
    int64_t nx = 1, ny = 1;
    std::vector<size_t> start;
    std::vector<uint32_t> members;
};

double Quantile(std::vector<double> values, double q) {
    if (values.empty()) {
        return std::numeric_limits<double>::quiet_NaN();
    }
    const size_t k =
        static_cast<size_t>(std::ceil(q * static_cast<double>(values.size())));
    const size_t at = std::min(values.size() - 1, k == 0 ? 0 : k - 1);
    std::nth_element(values.begin(), values.begin() + at, values.end());
    return values[at];
}

// The smallest of 1, 1.5, 2, 2.5, 3, 4, 5, 6 and 8 times a power of ten that
// is at least v: numbers a user would type.
double RoundUpNicely(double v) {
    if (!(v > 0.0) || !std::isfinite(v)) {
        return v;
    }
    const double decade = std::pow(10.0, std::floor(std::log10(v)));
    for (const double step :
         {1.0, 1.5, 2.0, 2.5, 3.0, 4.0, 5.0, 6.0, 8.0, 10.0}) {
        if (step * decade >= v * (1.0 - 1e-12)) {
            return step * decade;
        }
    }
    return 10.0 * decade;
}

// The half-size a window growing from `start` by `increment` ends at for a
// station whose N stations need `needed`.
double GrownWindow(double needed, double start, double increment) {
    if (needed <= start) {
        return start;
    }
    return start + std::ceil((needed - start) / increment) * increment;
}

std::string Metres(double v) {
    char text[64];
    const auto end = std::to_chars(text, text + sizeof text, std::round(v)).ptr;
    std::string digits(text, end);
    // Thousands grouped for the reader.
    const size_t first = digits[0] == '-' ? 1 : 0;
    for (size_t at = digits.size(); at > first + 3; at -= 3) {
        digits.insert(at - 3, ",");
    }
    return digits;
}

std::string Plain(double v) {
    char text[64];
    const auto end = std::to_chars(text, text + sizeof text, v).ptr;
    return std::string(text, end);
}

// The grid's limit of nodes each way, with room for the cell the grid adds
// on either side of its samples.
constexpr double grid_nodes_room = 1000.0;
// The cell size against the search distance (the window's defaults, 2500 m
// and 200 m, keep this ratio).
constexpr double cells_per_search_distance = 12.5;
constexpr double increments_per_search_distance = 5.0;
// Farthest a grid node read at a station lies from it, in cells.
constexpr double node_reach_cells = 1.5;

// Observed gravity on the Earth's surface, mGal; and the widest spread of an
// anomaly between its 5th and 95th percentiles that a survey plausibly has.
constexpr double gravity_low = 977000.0;
constexpr double gravity_high = 984000.0;
constexpr double anomaly_spread_limit = 1000.0;

} // namespace

SurveySpacing MeasureSpacing(std::vector<double> x, std::vector<double> y,
                             int32_t min_points, size_t sample) {
    SurveySpacing spacing;
    spacing.min_points = min_points;
    // Distinct positions with numbers, once each.
    std::vector<std::pair<double, double>> points;
    points.reserve(x.size());
    for (size_t k = 0; k < x.size(); ++k) {
        if (std::isfinite(x[k]) && std::isfinite(y[k])) {
            points.emplace_back(x[k], y[k]);
        }
    }
    std::sort(points.begin(), points.end());
    points.erase(std::unique(points.begin(), points.end()), points.end());
    spacing.stations = static_cast<int64_t>(points.size());
    if (points.size() < 2) {
        return spacing;
    }
    x.resize(points.size());
    y.resize(points.size());
    for (size_t k = 0; k < points.size(); ++k) {
        x[k] = points[k].first;
        y[k] = points[k].second;
    }
    points = {};
    const TBucketGrid grid(x, y);
    const size_t n = x.size();
    const size_t stride = std::max<size_t>(1, (n + sample - 1) / sample);
    const size_t others = n - 1;
    const size_t in_window = std::min<size_t>(
        others, static_cast<size_t>(std::max(min_points, 1)) - 1);
    std::vector<double> nearest, neighbourhood, found;
    for (size_t k = 0; k < n; k += stride) {
        grid.Nearest(k, std::min<size_t>(others, spacing_neighbours), false,
                     found);
        nearest.push_back(found.front());
        neighbourhood.push_back(found.back());
        if (in_window == 0) {
            spacing.windows.push_back(0.0);
        } else {
            grid.Nearest(k, in_window, true, found);
            spacing.windows.push_back(found.back());
        }
    }
    spacing.measured = static_cast<int64_t>(nearest.size());
    spacing.nearest = Quantile(nearest, 0.5);
    spacing.neighbourhood = Quantile(neighbourhood, spacing_covered);
    spacing.window = Quantile(spacing.windows, 0.5);
    spacing.widest_window = Quantile(spacing.windows, spacing_widest);
    return spacing;
}

SuggestedParameters SuggestParameters(const SurveySpacing &spacing) {
    SuggestedParameters p;
    p.min_points = spacing.min_points;
    if (!spacing.Known()) {
        return p;
    }
    // The search distance reaches the neighbourhood from the grid nodes next
    // to a station, which lie up to a cell and a half away; the cell follows
    // the search distance.
    double cell = 0.0;
    double a = RoundUpNicely(spacing.neighbourhood);
    for (int k = 0; k < 3; ++k) {
        cell = RoundUpNicely(a / cells_per_search_distance);
        a = RoundUpNicely(spacing.neighbourhood + node_reach_cells * cell);
    }
    const double increment = RoundUpNicely(a / increments_per_search_distance);
    // The widest windows, grown from a by the increment, stay within the
    // grid's nodes.
    std::vector<double> grown;
    grown.reserve(spacing.windows.size());
    for (const double w : spacing.windows) {
        grown.push_back(GrownWindow(w, a, increment));
    }
    const double widest = Quantile(grown, spacing_widest);
    const double limited = RoundUpNicely(2.0 * widest / grid_nodes_room);
    const bool raised = limited > cell;
    cell = std::max(cell, limited);
    p.search_distance = a;
    p.increment = increment;
    p.cell_size = cell;
    p.reasoning =
        "stations " + Metres(spacing.nearest) +
        " m apart (median distance to the nearest), " +
        std::to_string(spacing_neighbours) + " within " +
        Metres(spacing.neighbourhood) + " m of " +
        Plain(spacing_covered * 100.0) + " % of them, " +
        std::to_string(spacing.min_points) + " in a window of half-size " +
        Metres(spacing.window) +
        " m around the median one; the search distance reaches those " +
        std::to_string(spacing_neighbours) +
        " from the grid nodes beside a station, the increment is a fifth of "
        "it, the cell size " +
        (raised ? "keeps the widest windows (" + Metres(widest) +
                      " m) within the grid's 1,024 nodes"
                : std::string("a twelfth"));
    return p;
}

std::string SuggestedParameters::CommandLine() const {
    return "--search-distance " + Plain(search_distance) + " --increment " +
           Plain(increment) + " --min-points " + std::to_string(min_points) +
           " --cell-size " + Plain(cell_size);
}

std::string SuggestedParameters::Words() const {
    return "search distance " + Plain(search_distance) + " m, increment " +
           Plain(increment) + " m, minimum " + std::to_string(min_points) +
           " stations, cell size " + Plain(cell_size) + " m";
}

SurveyLooks LookAtSurvey(const std::vector<double> &x,
                         const std::vector<double> &y,
                         const std::vector<double> &value) {
    SurveyLooks looks;
    if (x.empty()) {
        return looks;
    }
    looks.degrees = true;
    for (size_t k = 0; k < x.size() && looks.degrees; ++k) {
        looks.degrees = std::fabs(x[k]) <= 180.0 && std::fabs(y[k]) <= 90.0;
    }
    std::vector<double> finite;
    finite.reserve(value.size());
    for (const double v : value) {
        if (std::isfinite(v)) {
            finite.push_back(v);
        }
    }
    if (finite.empty()) {
        return looks;
    }
    looks.median_value = Quantile(finite, 0.5);
    looks.value_spread = Quantile(finite, 0.95) - Quantile(finite, 0.05);
    looks.observed_gravity =
        looks.median_value >= gravity_low && looks.median_value <= gravity_high;
    looks.spread_too_wide =
        !looks.observed_gravity && looks.value_spread > anomaly_spread_limit;
    return looks;
}

std::vector<std::string> SurveyLooksNotes(const SurveyLooks &looks) {
    std::vector<std::string> notes;
    if (looks.observed_gravity) {
        notes.push_back("The values look like observed gravity, not an "
                        "anomaly (median " +
                        Metres(looks.median_value) +
                        " mGal); reduce them first.");
    } else if (looks.spread_too_wide) {
        notes.push_back("The values spread over " + Metres(looks.value_spread) +
                        " mGal, far beyond any anomaly; check their units and "
                        "that they are an anomaly.");
    }
    if (looks.degrees) {
        notes.push_back("The coordinates look like longitude and latitude: if "
                        "they are, add --source-crs EPSG:4326 (or choose the "
                        "coordinate system in the column dialog).");
    }
    return notes;
}

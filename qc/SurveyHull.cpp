// Convex hulls of the surveys by Andrew's monotone chain.
#include "qc/SurveyHull.h"

#include <algorithm>
#include <cmath>

namespace {

// Twice the signed area of o, a, b: positive for a left turn.
double Cross(const HullPoint &o, const HullPoint &a, const HullPoint &b) {
    return (a.x - o.x) * (b.y - o.y) - (a.y - o.y) * (b.x - o.x);
}

std::vector<HullPoint> Hull(std::vector<HullPoint> points) {
    std::sort(points.begin(), points.end(), [](const HullPoint &a, const HullPoint &b) {
        return a.x < b.x || (a.x == b.x && a.y < b.y);
    });
    points.erase(std::unique(points.begin(), points.end(),
                             [](const HullPoint &a, const HullPoint &b) {
                                 return a.x == b.x && a.y == b.y;
                             }),
                 points.end());
    if (points.size() < 3) {
        return points;
    }
    std::vector<HullPoint> hull(2 * points.size());
    size_t k = 0;
    for (const HullPoint &p : points) { // lower chain
        while (k >= 2 && Cross(hull[k - 2], hull[k - 1], p) <= 0.0) {
            --k;
        }
        hull[k++] = p;
    }
    for (size_t i = points.size() - 1, lower = k + 1; i-- > 0;) { // upper chain
        while (k >= lower && Cross(hull[k - 2], hull[k - 1], points[i]) <= 0.0) {
            --k;
        }
        hull[k++] = points[i];
    }
    hull.resize(k - 1); // the last point is the first
    return hull;
}

} // namespace

std::vector<std::vector<HullPoint>> SurveyHulls(const TQcStations &stations,
                                                const SurveyGrouping &grouping) {
    std::vector<std::vector<HullPoint>> points(grouping.Count());
    const size_t count = std::min(stations.Size(), grouping.survey.size());
    for (size_t k = 0; k < count; ++k) {
        const QcStation &s = stations[k];
        if (std::isfinite(s.x) && std::isfinite(s.y)) {
            points[grouping.survey[k]].push_back({s.x, s.y});
        }
    }
    for (std::vector<HullPoint> &survey : points) {
        survey = Hull(std::move(survey));
    }
    return points;
}

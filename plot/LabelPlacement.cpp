// Greedy placement of labels among candidate spots around their anchors.
#include "plot/LabelPlacement.h"

#include <cmath>

namespace {

// Directions tried, in order: right, left, above, below, then the corners.
constexpr double directions[][2] = {{1, 0},  {-1, 0},  {0, -1}, {0, 1},
                                    {1, -1}, {-1, -1}, {1, 1},  {-1, 1}};
// Rings of spots, in gaps from the anchor: beside the mark, then farther
// out with a leader line, for crowds.
constexpr double ring_distances[] = {1.0, 3.0, 5.0, 8.0};

// The label's box placed in direction (ux, uy) at `distance` from `anchor`.
QRectF BoxAt(const QPointF &anchor, const QSizeF &size, double ux, double uy,
             double distance) {
    const double cx = anchor.x() + ux * (distance + 0.5 * size.width());
    const double cy = anchor.y() + uy * (distance + 0.5 * size.height());
    return {cx - 0.5 * size.width(), cy - 0.5 * size.height(), size.width(),
            size.height()};
}

bool Clear(const QRectF &box, const std::vector<QRectF> &taken) {
    for (const QRectF &other : taken) {
        if (box.intersects(other)) {
            return false;
        }
    }
    return true;
}

} // namespace

std::vector<std::optional<PlacedLabel>>
PlaceLabels(const std::vector<LabelRequest> &requests, const QRectF &room,
            double gap, const std::vector<QRectF> &obstacles) {
    std::vector<std::optional<PlacedLabel>> placed(requests.size());
    // Labels placed so far, and every station's mark: no label may cover
    // another one's station either.
    std::vector<QRectF> taken = obstacles;
    for (const LabelRequest &request : requests) {
        taken.push_back(QRectF(request.anchor.x() - gap,
                               request.anchor.y() - gap, 2 * gap, 2 * gap));
    }
    for (size_t k = 0; k < requests.size(); ++k) {
        const LabelRequest &request = requests[k];
        // Its own mark is no obstacle to it.
        const QRectF own = taken[obstacles.size() + k];
        taken[obstacles.size() + k] = QRectF();
        for (const double ring : ring_distances) {
            const double distance = ring * gap;
            for (const auto &d : directions) {
                // Corners at the same distance along the diagonal.
                const double norm = std::hypot(d[0], d[1]);
                const double step = distance / norm;
                const QRectF box =
                    BoxAt(request.anchor, request.size, d[0], d[1], step);
                if (room.contains(box) && Clear(box, taken)) {
                    placed[k] = PlacedLabel{box, distance > gap};
                    break;
                }
            }
            if (placed[k]) {
                break;
            }
        }
        taken[obstacles.size() + k] = own;
        if (placed[k]) {
            taken.push_back(placed[k]->box);
        }
    }
    return placed;
}

// The equal-scale view of the survey's plane.
#include "plot/MapView.h"

#include <algorithm>
#include <cmath>
#include <limits>

void TMapView::Fit(const WorldBox &box, const QRectF &frame_, double margin,
                   double fallback_extent) {
    frame = frame_;
    centre_x = 0.5 * (box.x0 + box.x1);
    centre_y = 0.5 * (box.y0 + box.y1);
    const double room_x = std::max(frame.width() - 2.0 * margin, 1.0);
    const double room_y = std::max(frame.height() - 2.0 * margin, 1.0);
    // The same scale for both axes: the smaller of the two that would fill
    // the room, so a survey much wider than high fills the width only.
    double fit = std::numeric_limits<double>::infinity();
    if (box.Width() > 0.0) {
        fit = room_x / box.Width();
    }
    if (box.Height() > 0.0) {
        fit = std::min(fit, room_y / box.Height());
    }
    if (!std::isfinite(fit)) {
        fit = std::min(room_x, room_y) / fallback_extent;
    }
    scale = std::clamp(fit, min_scale, max_scale);
}

void TMapView::ZoomAt(const QPointF &pixel, double factor) {
    double x = 0.0, y = 0.0;
    ToWorld(pixel, x, y);
    scale = std::clamp(scale * factor, min_scale, max_scale);
    // The point (x, y) goes back under the pixel.
    centre_x = x - (pixel.x() - frame.center().x()) / scale;
    centre_y = y + (pixel.y() - frame.center().y()) / scale;
}

void TMapView::PanBy(const QPointF &delta) {
    centre_x -= delta.x() / scale;
    centre_y += delta.y() / scale;
}

void TMapView::CentreOn(double x, double y) {
    centre_x = x;
    centre_y = y;
}

WorldBox TMapView::Visible() const {
    WorldBox box;
    ToWorld(frame.bottomLeft(), box.x0, box.y0);
    ToWorld(frame.topRight(), box.x1, box.y1);
    return box;
}

// Places the names of the stations that matter beside them, so that no two
// names overlap and none covers another marked station, as far as the room
// allows: the most important label first, each at the first free spot of a
// few around its station, nearer spots before farther ones.
#pragma once

#include <optional>
#include <vector>

#include <QPointF>
#include <QRectF>
#include <QSizeF>

struct LabelRequest {
    QPointF anchor; // the station, pixels
    QSizeF size;    // of the label's box, pixels
};

struct PlacedLabel {
    QRectF box;
    bool far = false; // away from its station: draw a leader line
};

// One answer per request, in the same order; nullopt where no free spot was
// found. `gap` pixels are kept between a label and its station (the mark's
// radius). Requests come in order of importance. Labels stay inside `room`
// and clear of every `obstacle`.
std::vector<std::optional<PlacedLabel>>
PlaceLabels(const std::vector<LabelRequest> &requests, const QRectF &room,
            double gap, const std::vector<QRectF> &obstacles = {});

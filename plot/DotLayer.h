// The stations' dots drawn straight into the pixels of an image: a coloured
// dot with a thin dark edge for each station with r2, a grey ring for each
// without, in the model's drawing order. No object and no painter call per
// station, so a million stations take a fraction of a second.
#pragma once

#include <QImage>

class TFigureModel;
class TMapView;

// Dot radius in pixels for a view: about a third of the stations' typical
// spacing on the screen, between min_dot_radius and max_dot_radius.
inline constexpr double min_dot_radius = 1.0;
inline constexpr double max_dot_radius = 6.0;
double DotRadius(const TFigureModel &model, const TMapView &view);

// An image of the view's frame (Format_ARGB32_Premultiplied, transparent
// where no station is, pixel (0, 0) at the frame's top-left corner) with the
// stations drawn at `radius` pixels. `scale_factor` multiplies the image's
// size (2 draws a sharper image for the same frame).
QImage RenderDots(const TFigureModel &model, const TMapView &view,
                  double radius, double scale_factor = 1.0);

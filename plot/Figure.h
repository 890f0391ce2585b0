// The figure of a run, drawn with QPainter onto any paint device (an image,
// an SVG generator, a widget): a title with the run's parameters and
// figures, the map of the stations coloured by r2 with the suspects ringed
// and named, the colour bar, a legend and the histogram of r2. The window
// draws its map and histogram with the same functions.
#pragma once

#include <cstdint>

#include <QFont>
#include <QImage>
#include <QRectF>
#include <QSizeF>
#include <QString>

#include "plot/MapView.h"

class QPainter;
class TFigureModel;

// The font of every text of a figure at `pixels` high: DejaVu Sans where it
// exists (Debian's fonts-dejavu-core), otherwise the system's sans-serif.
QFont FigureFont(double pixels, bool bold = false);

// Names written beside their suspects at most (fewer on a small map); the
// rest are ringed only.
inline constexpr size_t max_labels = 40;

// The names a map in `frame` (pixels) has room for: one per few thousand
// square pixels, at least a few, at most `most`.
size_t NamesOnMap(const QRectF &frame, size_t most = max_labels);

// What the map shows besides the stations.
struct MapDecor {
    double text = 13.0;    // pixels, of tick labels and names
    int64_t selected = -1; // station highlighted (the window's choice)
    bool axes = true;      // ticks in kilometres, scale bar, north arrow
    size_t max_names = max_labels; // suspects named at most (NamesOnMap)
};

// The map in view.Frame(): background, the dots (`dots` as RenderDots made
// them for this view at `radius` pixels), duplicate marks, suspects' rings
// and names, axes outside the frame. `dots` may be larger than the frame (a
// sharper image); it is drawn into the frame.
void DrawMap(QPainter &painter, const TMapView &view, const TFigureModel &model,
             const QImage &dots, double radius, const MapDecor &decor);

// Fits the survey's extent into `frame` for a map with axes: the stations
// stay clear of the scale bar below and the north arrow above, for tick
// labels `text` pixels high.
void FitMap(TMapView &view, const WorldBox &extent, const QRectF &frame,
            double text);

// The histogram of r2 in `frame` (tick labels included), with the
// thresholds and the counts beyond them.
void DrawHistogram(QPainter &painter, const QRectF &frame,
                   const TFigureModel &model, double text);

// The colour bar in `frame`, with its caption.
void DrawColourBar(QPainter &painter, const QRectF &frame,
                   const TFigureModel &model, double text);

// The symbols of the map, one row each, in `frame`.
void DrawLegend(QPainter &painter, const QRectF &frame, double text);

// The title (the station file's name), the parameters, and the figures.
QString TitleText(const TFigureModel &model);
QString ParametersText(const TFigureModel &model);
QString CountsText(const TFigureModel &model);

// Where the parts of a figure of `size` pixels go.
struct FigureLayout {
    double unit = 1.0; // 1 at 1600 x 1000; sizes and texts scale with it
    double text = 13.0;
    QRectF title, map, colour_bar, legend, histogram;
};
FigureLayout LayoutFigure(const QSizeF &size);

// The whole figure on `painter`, whose device is `size` pixels, white
// background. `sharpness` > 1 draws the dots at that many times the pixels
// (for vector output). Returns the map's view (for tests and callers that
// need to know where a station fell).
TMapView DrawFigure(QPainter &painter, const QSizeF &size,
                    const TFigureModel &model, double sharpness = 1.0);

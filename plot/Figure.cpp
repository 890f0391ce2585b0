// Drawing a run's figure: the layout, the map with its axes and marks, the
// colour bar, the legend and the histogram.
#include "plot/Figure.h"

#include <algorithm>
#include <cmath>
#include <optional>
#include <vector>

#include <QFontDatabase>
#include <QFontMetricsF>
#include <QPainter>
#include <QPainterPath>
#include <QPen>

#include "plot/DotLayer.h"
#include "plot/FigureModel.h"
#include "plot/LabelPlacement.h"
#include "plot/NumberText.h"

namespace {

constexpr const char *figure_family = "DejaVu Sans";
constexpr const char *fallback_family = "sans-serif";

const QColor ink(0x20, 0x20, 0x20);
const QColor frame_grey(0x90, 0x90, 0x90);
const QColor ring_grey(0x8c, 0x8c, 0x8c);
const QColor label_back(255, 255, 255, 215);
const QColor selection_colour(0xff, 0xb0, 0x00); // amber: apart from the scale
const QColor bar_edge(0x60, 0x60, 0x60);

// Reference size of a figure: the unit is 1 here.
constexpr double reference_width = 1600.0;
constexpr double reference_height = 1000.0;
constexpr double base_text = 14.0; // pixels at the reference size
constexpr double min_text = 9.0;

// Marks around a station, pixels beyond its dot.
constexpr double suspect_ring_gap = 3.5;
constexpr double suspect_ring_width = 2.2;
constexpr double duplicate_gap = 2.5;
constexpr double selection_gap = 7.0;

// A map gets a name per this many square pixels, at least min_labels.
constexpr double label_area = 6000.0;
constexpr size_t min_labels = 3;

// Ticks aimed at along an axis: one per this many text heights.
constexpr double tick_spacing_texts = 7.0;

// 1, 2 or 5 times a power of ten, the nearest at or above `raw`.
double NiceStep(double raw) {
    if (!(raw > 0.0) || !std::isfinite(raw)) {
        return 1.0;
    }
    const double power = std::pow(10.0, std::floor(std::log10(raw)));
    const double f = raw / power;
    return (f <= 1.0 ? 1.0 : f <= 2.0 ? 2.0 : f <= 5.0 ? 5.0 : 10.0) * power;
}

// 1, 2 or 5 times a power of ten, the largest at or below `raw`.
double NiceFloor(double raw) {
    if (!(raw > 0.0) || !std::isfinite(raw)) {
        return 1.0;
    }
    const double power = std::pow(10.0, std::floor(std::log10(raw)));
    const double f = raw / power;
    return (f >= 5.0 ? 5.0 : f >= 2.0 ? 2.0 : 1.0) * power;
}

// Decimals that show a multiple of `step` exactly enough.
int DecimalsFor(double step) {
    return std::clamp(static_cast<int>(std::ceil(-std::log10(step) - 1e-9)), 0,
                      6);
}

// A distance for the scale bar: "500 m", "2 km".
QString Distance(double metres) {
    return metres >= 1000.0
               ? FixedNumber(metres / 1000.0, DecimalsFor(metres / 1000.0)) +
                     " km"
               : FixedNumber(metres, DecimalsFor(metres)) + " m";
}

// Text centred on (x, y) horizontally, its top at y.
void TextBelow(QPainter &painter, double x, double y, const QString &text) {
    const QFontMetricsF metrics(painter.font());
    const double w = metrics.horizontalAdvance(text);
    painter.drawText(QPointF(x - 0.5 * w, y + metrics.ascent()), text);
}

// Text right-aligned at x, vertically centred on y.
void TextLeftOf(QPainter &painter, double x, double y, const QString &text) {
    const QFontMetricsF metrics(painter.font());
    const double w = metrics.horizontalAdvance(text);
    painter.drawText(
        QPointF(x - w, y + 0.5 * (metrics.ascent() - metrics.descent())), text);
}

void DrawAxes(QPainter &painter, const TMapView &view, double text) {
    const QRectF frame = view.Frame();
    const WorldBox visible = view.Visible();
    painter.setFont(FigureFont(text));
    painter.setPen(QPen(ink, 1.0));
    const double tick = 0.45 * text;

    // x along the bottom, y along the left, both in kilometres.
    const double step_x = NiceStep(visible.Width() * text * tick_spacing_texts /
                                   std::max(frame.width(), 1.0));
    const int decimals_x = DecimalsFor(step_x / 1000.0);
    for (double x = std::ceil(visible.x0 / step_x) * step_x; x <= visible.x1;
         x += step_x) {
        const double px = view.ToPixel(x, 0.0).x();
        painter.drawLine(QPointF(px, frame.bottom()),
                         QPointF(px, frame.bottom() + tick));
        TextBelow(painter, px, frame.bottom() + tick + 1.0,
                  FixedNumber(x / 1000.0, decimals_x));
    }
    const double step_y =
        NiceStep(visible.Height() * text * 3.0 / std::max(frame.height(), 1.0));
    const int decimals_y = DecimalsFor(step_y / 1000.0);
    const QFontMetricsF metrics(painter.font());
    double widest = 0.0; // of the y labels, for the axis title beside them
    for (double y = std::ceil(visible.y0 / step_y) * step_y; y <= visible.y1;
         y += step_y) {
        const double py = view.ToPixel(0.0, y).y();
        painter.drawLine(QPointF(frame.left() - tick, py),
                         QPointF(frame.left(), py));
        const QString label = FixedNumber(y / 1000.0, decimals_y);
        widest = std::max(widest, metrics.horizontalAdvance(label));
        TextLeftOf(painter, frame.left() - tick - 2.0, py, label);
    }
    TextBelow(painter, frame.center().x(), frame.bottom() + tick + 1.3 * text,
              "x (east), km");
    painter.save();
    painter.translate(frame.left() - tick - widest - 0.5 * text -
                          metrics.height(),
                      frame.center().y());
    painter.rotate(-90.0);
    TextBelow(painter, 0.0, 0.0, "y (north), km");
    painter.restore();
}

// The scale bar's and the north arrow's boxes inside the frame.
QRectF ScaleBarBox(const QRectF &frame, double text) {
    return {frame.left() + 0.8 * text, frame.bottom() - 3.2 * text,
            frame.width() / 5.0 + 1.6 * text, 2.6 * text};
}
QRectF NorthBox(const QRectF &frame, double text) {
    return {frame.right() - 2.8 * text, frame.top() + 0.6 * text, 2.2 * text,
            3.2 * text};
}

void DrawScaleBar(QPainter &painter, const TMapView &view, double text) {
    const QRectF box = ScaleBarBox(view.Frame(), text);
    const double metres =
        NiceFloor(view.Frame().width() / 5.0 / view.PixelsPerMetre());
    const double length = metres * view.PixelsPerMetre();
    painter.setPen(Qt::NoPen);
    painter.setBrush(label_back);
    painter.drawRect(
        QRectF(box.left(), box.top(), length + 1.6 * text, box.height()));
    const double left = box.left() + 0.8 * text;
    const double y = box.bottom() - 0.7 * text;
    painter.setBrush(ink);
    painter.drawRect(QRectF(left, y - 0.15 * text, length, 0.3 * text));
    painter.setPen(QPen(ink, 1.0));
    painter.drawLine(QPointF(left, y - 0.45 * text),
                     QPointF(left, y + 0.15 * text));
    painter.drawLine(QPointF(left + length, y - 0.45 * text),
                     QPointF(left + length, y + 0.15 * text));
    painter.setFont(FigureFont(text));
    TextBelow(painter, left + 0.5 * length, box.top() + 0.2 * text,
              Distance(metres));
}

void DrawNorthArrow(QPainter &painter, const QRectF &frame, double text) {
    const QRectF box = NorthBox(frame, text);
    const double cx = box.center().x();
    QPainterPath arrow;
    arrow.moveTo(cx, box.top() + 1.3 * text);
    arrow.lineTo(cx + 0.55 * text, box.bottom());
    arrow.lineTo(cx, box.bottom() - 0.5 * text);
    arrow.lineTo(cx - 0.55 * text, box.bottom());
    arrow.closeSubpath();
    painter.setPen(QPen(ink, 1.0));
    painter.setBrush(ink);
    painter.drawPath(arrow);
    painter.setFont(FigureFont(text, true));
    TextBelow(painter, cx, box.top(), "N");
}

// The names of the visible suspects, the most extreme first, placed apart.
void DrawSuspectLabels(QPainter &painter, const TMapView &view,
                       const TFigureModel &model, double radius,
                       const MapDecor &decor) {
    const QRectF frame = view.Frame();
    const QFont font = FigureFont(0.95 * decor.text);
    const QFontMetricsF metrics(font);
    const double pad = 0.3 * decor.text;
    std::vector<LabelRequest> requests;
    std::vector<size_t> named;
    const size_t cap = NamesOnMap(frame, decor.max_names);
    for (const size_t k : model.Suspects()) {
        if (requests.size() >= cap) {
            break;
        }
        const QPointF at =
            view.ToPixel(model.Stations()[k].x, model.Stations()[k].y);
        if (!frame.contains(at)) {
            continue;
        }
        const QString name = QString::fromStdString(model.Label(k));
        requests.push_back(
            {at, QSizeF(metrics.horizontalAdvance(name) + 2 * pad,
                        metrics.height())});
        named.push_back(k);
    }
    std::vector<QRectF> obstacles;
    if (decor.axes) {
        obstacles = {ScaleBarBox(frame, decor.text),
                     NorthBox(frame, decor.text)};
    }
    const auto placed =
        PlaceLabels(requests, frame,
                    radius + suspect_ring_gap + suspect_ring_width, obstacles);
    painter.setFont(font);
    for (size_t j = 0; j < placed.size(); ++j) {
        if (!placed[j]) {
            continue;
        }
        const QRectF box = placed[j]->box;
        if (placed[j]->far) {
            // A leader from the ring to the nearest point of the box.
            const QPointF anchor = requests[j].anchor;
            const QPointF to(std::clamp(anchor.x(), box.left(), box.right()),
                             std::clamp(anchor.y(), box.top(), box.bottom()));
            painter.setPen(QPen(ink, 1.0));
            painter.drawLine(anchor, to);
        }
        painter.setPen(Qt::NoPen);
        painter.setBrush(label_back);
        painter.drawRoundedRect(box, 2.0, 2.0);
        painter.setPen(ink);
        painter.drawText(
            QPointF(box.left() + pad, box.top() + metrics.ascent()),
            QString::fromStdString(model.Label(named[j])));
    }
}

// What the histogram's dashed lines are, in a sentence or three.
QString HistogramCaption(const TFigureModel &model, double) {
    const R2Histogram &h = model.Histogram();
    const RunFigures &counts = model.Counts();
    QString caption =
        std::isfinite(h.lower_threshold)
            ? QString("Dashed: median \u00b1 %1 robust scales of %2 mGal. The "
                      "suspect rule also weighs a station against its "
                      "neighbours: on rough ground the bar is higher.")
                  .arg(model.Header().suspect_threshold)
                  .arg(FixedNumber(counts.scale,
                                   std::max(DecimalsFor(counts.scale) + 1, 3)))
            : QString("r2 has no spread: no thresholds.");
    if (h.below + h.above > 0) {
        caption += QString(" %1 beyond the bins.")
                       .arg(GroupedNumber(h.below + h.above));
    }
    return caption;
}

} // namespace

size_t NamesOnMap(const QRectF &frame, size_t most) {
    // Fewer names on a small map: about one per label_area pixels.
    return std::clamp<size_t>(
        static_cast<size_t>(frame.width() * frame.height() / label_area),
        std::min(min_labels, most), most);
}

QFont FigureFont(double pixels, bool bold) {
    static const bool have_family =
        QFontDatabase::families().contains(figure_family, Qt::CaseInsensitive);
    QFont font(have_family ? figure_family : fallback_family);
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(std::max(1, static_cast<int>(std::lround(pixels))));
    font.setBold(bold);
    return font;
}

// Each survey's outline, thin and grey; a shifted survey's dark red and
// labelled with its offset at its highest point.
void DrawSurveys(QPainter &painter, const TMapView &view,
                 const TFigureModel &model, double text) {
    const QColor shifted_colour(160, 20, 20);
    const QColor label_ground(255, 255, 255, 200);
    painter.setBrush(Qt::NoBrush);
    painter.setFont(FigureFont(text));
    for (const TFigureModel::SurveyOutline &outline : model.Surveys()) {
        if (outline.hull.empty()) {
            continue;
        }
        QPolygonF polygon;
        for (const HullPoint &p : outline.hull) {
            polygon << view.ToPixel(p.x, p.y);
        }
        const bool shifted = !outline.label.empty();
        painter.setPen(QPen(shifted ? shifted_colour : frame_grey,
                            shifted ? 2.0 : 1.0, Qt::DashLine));
        if (polygon.size() > 2) {
            painter.drawPolygon(polygon);
        } else {
            painter.drawPolyline(polygon);
        }
        if (shifted) {
            QPointF top = polygon.front();
            for (const QPointF &p : polygon) {
                top = p.y() < top.y() ? p : top;
            }
            // Kept inside the frame: a survey at the map's right or top
            // edge would cut its label off.
            const QString label = QString::fromStdString(outline.label);
            const QFontMetricsF metrics(painter.font());
            const QRectF frame = view.Frame();
            const double x = std::max(
                frame.left(),
                std::min(top.x(),
                         frame.right() - metrics.horizontalAdvance(label)));
            const double y =
                std::max(top.y() - 0.3 * text, frame.top() + metrics.ascent());
            // A pale ground under it, so that it reads over dots and
            // outlines.
            painter.fillRect(QRectF(x - 1.0, y - metrics.ascent(),
                                    metrics.horizontalAdvance(label) + 2.0,
                                    metrics.height()),
                             label_ground);
            painter.setPen(shifted_colour);
            painter.drawText(QPointF(x, y), label);
        }
    }
}

void DrawMap(QPainter &painter, const TMapView &view, const TFigureModel &model,
             const QImage &dots, double radius, const MapDecor &decor) {
    const QRectF frame = view.Frame();
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.fillRect(frame, Qt::white);
    painter.setClipRect(frame);
    if (model.Size() == 0) {
        painter.setPen(ink);
        painter.setFont(FigureFont(decor.text));
        painter.drawText(frame, Qt::AlignCenter, "No station was read.");
    }
    painter.drawImage(frame, dots, QRectF(dots.rect()));
    DrawSurveys(painter, view, model, decor.text);

    const TQcStations &stations = model.Stations();
    const WorldBox visible = view.Visible();
    const double margin =
        (radius + selection_gap + 4.0) / view.PixelsPerMetre();
    const auto shown = [&](size_t k, QPointF &at) {
        const QcStation &s = stations[k];
        if (!(s.x >= visible.x0 - margin && s.x <= visible.x1 + margin &&
              s.y >= visible.y0 - margin && s.y <= visible.y1 + margin)) {
            return false;
        }
        at = view.ToPixel(s.x, s.y);
        return true;
    };
    QPointF at;

    // Duplicates and close pairs: a square around the dot.
    painter.setBrush(Qt::NoBrush);
    painter.setPen(QPen(ink, 1.2));
    const double half = radius + duplicate_gap;
    for (const size_t k : model.Duplicates()) {
        if (shown(k, at)) {
            painter.drawRect(
                QRectF(at.x() - half, at.y() - half, 2 * half, 2 * half));
        }
    }
    // Suspects: a strong black ring with a white rim, so it shows on dark
    // dots too; the most extreme drawn last.
    const double ring = radius + suspect_ring_gap;
    const std::vector<size_t> &suspects = model.Suspects();
    for (auto it = suspects.rbegin(); it != suspects.rend(); ++it) {
        if (shown(*it, at)) {
            painter.setPen(QPen(Qt::white, suspect_ring_width + 2.0));
            painter.drawEllipse(at, ring, ring);
            painter.setPen(QPen(Qt::black, suspect_ring_width));
            painter.drawEllipse(at, ring, ring);
        }
    }
    DrawSuspectLabels(painter, view, model, radius, decor);
    if (decor.selected >= 0 &&
        static_cast<size_t>(decor.selected) < model.Size() &&
        shown(static_cast<size_t>(decor.selected), at)) {
        const double r = radius + selection_gap;
        painter.setBrush(Qt::NoBrush);
        painter.setPen(QPen(Qt::black, 4.0));
        painter.drawEllipse(at, r, r);
        painter.setPen(QPen(selection_colour, 2.5));
        painter.drawEllipse(at, r, r);
        painter.setPen(QPen(Qt::black, 1.0));
        for (const int sx : {-1, 1}) {
            painter.drawLine(QPointF(at.x() + sx * (r + 2), at.y()),
                             QPointF(at.x() + sx * (r + 9), at.y()));
            painter.drawLine(QPointF(at.x(), at.y() + sx * (r + 2)),
                             QPointF(at.x(), at.y() + sx * (r + 9)));
        }
    }
    if (decor.axes) {
        DrawScaleBar(painter, view, decor.text);
        DrawNorthArrow(painter, frame, decor.text);
    }
    painter.setClipping(false);
    painter.setBrush(Qt::NoBrush);
    painter.setPen(QPen(frame_grey, 1.0));
    painter.drawRect(frame);
    if (decor.axes) {
        DrawAxes(painter, view, decor.text);
    }
    painter.restore();
}

void FitMap(TMapView &view, const WorldBox &extent, const QRectF &frame,
            double text) {
    // The stations fit inside the frame less a band above and below; the
    // frame itself then shows a little more around them.
    const QRectF clear = frame.adjusted(0.0, 2.5 * text, 0.0, -2.5 * text);
    view.Fit(extent, clear, 1.5 * text);
    double centre_x = 0.0, centre_y = 0.0;
    view.ToWorld(frame.center(), centre_x, centre_y);
    view.SetFrame(frame);
    view.CentreOn(centre_x, centre_y);
}

void DrawColourBar(QPainter &painter, const QRectF &frame,
                   const TFigureModel &model, double text) {
    const TColourScale &scale = model.Scale();
    painter.save();
    painter.setFont(FigureFont(text));
    const QFontMetricsF metrics(painter.font());
    const QRectF bar(frame.left(), frame.top() + 1.6 * text, frame.width(),
                     1.2 * text);
    QImage gradient(TColourScale::steps, 1, QImage::Format_RGB32);
    for (int k = 0; k < TColourScale::steps; ++k) {
        gradient.setPixel(k, 0, scale.Colour(k));
    }
    painter.drawImage(bar, gradient);
    painter.setPen(QPen(bar_edge, 1.0));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(bar);
    const double bound = scale.Bound();
    const int decimals = std::max(DecimalsFor(bound / 2.0) + 1, 2);
    painter.setPen(ink);
    for (int k = -2; k <= 2; ++k) {
        const double x = bar.center().x() + 0.25 * k * bar.width();
        painter.drawLine(QPointF(x, bar.bottom()),
                         QPointF(x, bar.bottom() + 0.35 * text));
        QString label = SignedNumber(0.5 * k * bound, decimals);
        if (k == -2) {
            label = "\u2264 " + label;
        } else if (k == 2) {
            label = "\u2265 " + label;
        }
        const double w = metrics.horizontalAdvance(label);
        const double left =
            std::clamp(x - 0.5 * w, frame.left(), frame.right() - w);
        painter.drawText(
            QPointF(left, bar.bottom() + 0.4 * text + metrics.ascent()), label);
    }
    const RunFigures &counts = model.Counts();
    const QString caption =
        counts.scale > 0.0
            ? QString("r2, mGal: colours clipped at \u00b1%1 robust scales")
                  .arg(colour_bound_scales)
            : QString("r2, mGal: colours clipped at the largest |r2|");
    painter.drawText(QPointF(frame.left(), frame.top() + metrics.ascent()),
                     caption);
    painter.restore();
}

void DrawLegend(QPainter &painter, const QRectF &frame, double text) {
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.setFont(FigureFont(text));
    const QFontMetricsF metrics(painter.font());
    const double row = 1.6 * text;
    const double r = 0.4 * text;
    const char *texts[] = {
        "station, coloured by r2", "blank, skipped or not reached: no r2",
        "suspect, named", "duplicate position or close pair"};
    for (int k = 0; k < 4; ++k) {
        const QPointF at(frame.left() + 1.2 * text,
                         frame.top() + (k + 0.5) * row);
        switch (k) {
        case 0:
            painter.setPen(QPen(QColor(0x40, 0x40, 0x40), 0.9));
            painter.setBrush(QColor(0xd6, 0x60, 0x4d));
            painter.drawEllipse(at, r, r);
            break;
        case 1:
            painter.setPen(QPen(ring_grey, 2.0));
            painter.setBrush(Qt::NoBrush);
            painter.drawEllipse(at, r, r);
            break;
        case 2:
            painter.setPen(QPen(QColor(0x40, 0x40, 0x40), 0.9));
            painter.setBrush(QColor(0x67, 0x00, 0x1f));
            painter.drawEllipse(at, r, r);
            painter.setBrush(Qt::NoBrush);
            painter.setPen(QPen(Qt::black, suspect_ring_width));
            painter.drawEllipse(at, r + suspect_ring_gap, r + suspect_ring_gap);
            break;
        default:
            painter.setPen(QPen(QColor(0x40, 0x40, 0x40), 0.9));
            painter.setBrush(QColor(0xf7, 0xf7, 0xf7));
            painter.drawEllipse(at, r, r);
            painter.setBrush(Qt::NoBrush);
            painter.setPen(QPen(ink, 1.2));
            painter.drawRect(
                QRectF(at.x() - r - duplicate_gap, at.y() - r - duplicate_gap,
                       2 * (r + duplicate_gap), 2 * (r + duplicate_gap)));
            break;
        }
        painter.setPen(ink);
        painter.drawText(
            QPointF(frame.left() + 2.8 * text,
                    at.y() + 0.5 * (metrics.ascent() - metrics.descent())),
            texts[k]);
    }
    painter.restore();
}

void DrawHistogram(QPainter &painter, const QRectF &frame,
                   const TFigureModel &model, double text) {
    const R2Histogram &h = model.Histogram();
    const RunFigures &counts = model.Counts();
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.setFont(FigureFont(text));
    const QFontMetricsF metrics(painter.font());
    painter.setPen(ink);
    painter.drawText(
        QPointF(frame.left(), frame.top() + metrics.ascent()),
        QString("r2 of %1 stations").arg(GroupedNumber(counts.with_r2)));
    if (h.counts.empty()) {
        painter.drawText(QPointF(frame.left(), frame.top() + 2.5 * text),
                         "No station has a leave-one-out residual.");
        painter.restore();
        return;
    }
    // Plot area: room for the counts above, count labels on the left, tick
    // labels and two lines of caption below.
    const QString caption = HistogramCaption(model, text);
    const QFont caption_font = FigureFont(0.9 * text);
    const double caption_height =
        QFontMetricsF(caption_font)
            .boundingRect(QRectF(0, 0, frame.width(), 1e6),
                          Qt::AlignLeft | Qt::TextWordWrap, caption)
            .height();
    const QRectF plot(frame.left() + 4.0 * text, frame.top() + 3.2 * text,
                      frame.width() - 4.5 * text,
                      frame.height() - 7.4 * text - caption_height);
    if (plot.width() < 10 || plot.height() < 10) {
        painter.restore();
        return;
    }
    const int64_t largest = *std::max_element(h.counts.begin(), h.counts.end());
    const double step_y = NiceStep(std::max<double>(largest, 1) / 4.0);
    const double top_count =
        std::max(std::ceil(largest / step_y) * step_y, step_y);
    const auto px = [&](double v) {
        return plot.left() + (v - h.low) / (h.high - h.low) * plot.width();
    };
    const auto py = [&](double c) {
        return plot.bottom() - c / top_count * plot.height();
    };

    // Grid lines and count labels.
    painter.setPen(QPen(QColor(0xe0, 0xe0, 0xe0), 1.0));
    for (double c = 0.0; c <= top_count + 0.5 * step_y; c += step_y) {
        painter.setPen(QPen(QColor(0xe0, 0xe0, 0xe0), 1.0));
        painter.drawLine(QPointF(plot.left(), py(c)),
                         QPointF(plot.right(), py(c)));
        painter.setPen(ink);
        TextLeftOf(painter, plot.left() - 0.4 * text, py(c),
                   GroupedNumber(static_cast<int64_t>(c)));
    }
    // Bars, each in the colour of its middle.
    const double width = h.BinWidth();
    for (size_t b = 0; b < h.counts.size(); ++b) {
        if (h.counts[b] == 0) {
            continue;
        }
        const double v0 = h.low + b * width;
        const QRectF bar(QPointF(px(v0), py(static_cast<double>(h.counts[b]))),
                         QPointF(px(v0 + width), plot.bottom()));
        painter.setPen(QPen(bar_edge, 0.6));
        painter.setBrush(
            QColor::fromRgb(model.Scale().ColourOf(v0 + 0.5 * width)));
        painter.drawRect(bar);
    }
    painter.setBrush(Qt::NoBrush);
    painter.setPen(QPen(ink, 1.0));
    painter.drawLine(plot.bottomLeft(), plot.bottomRight());
    painter.drawLine(plot.bottomLeft(), plot.topLeft());
    // Ticks of r2.
    const double step_x = NiceStep((h.high - h.low) / 5.0);
    const int decimals = DecimalsFor(step_x);
    for (double v = std::ceil(h.low / step_x) * step_x;
         v <= h.high + 1e-9 * step_x; v += step_x) {
        painter.drawLine(QPointF(px(v), plot.bottom()),
                         QPointF(px(v), plot.bottom() + 0.35 * text));
        TextBelow(painter, px(v), plot.bottom() + 0.45 * text,
                  SignedNumber(v, decimals));
    }
    // The thresholds, and how many stations lie beyond each.
    if (std::isfinite(h.lower_threshold) && std::isfinite(h.upper_threshold)) {
        QPen dashed(Qt::black, 1.6, Qt::DashLine);
        painter.setPen(dashed);
        for (const double t : {h.lower_threshold, h.upper_threshold}) {
            painter.drawLine(QPointF(px(t), plot.top() - 0.3 * text),
                             QPointF(px(t), plot.bottom()));
        }
        painter.setPen(ink);
        const int d = std::max(DecimalsFor(counts.scale), 2);
        const QString lower = QString("%1 below %2")
                                  .arg(GroupedNumber(h.beyond_lower),
                                       SignedNumber(h.lower_threshold, d));
        const QString upper = QString("%1 above %2")
                                  .arg(GroupedNumber(h.beyond_upper),
                                       SignedNumber(h.upper_threshold, d));
        const double y = frame.top() + 1.6 * text + metrics.ascent();
        painter.drawText(
            QPointF(std::max(frame.left(),
                             px(h.lower_threshold) -
                                 metrics.horizontalAdvance(lower) - 0.3 * text),
                    y),
            lower);
        painter.drawText(
            QPointF(std::min(px(h.upper_threshold) + 0.3 * text,
                             frame.right() - metrics.horizontalAdvance(upper)),
                    y),
            upper);
    }
    // Caption.
    const double cy = plot.bottom() + 1.9 * text;
    painter.setPen(ink);
    TextBelow(painter, plot.center().x(), cy, "r2, mGal");
    painter.setFont(caption_font);
    painter.drawText(
        QRectF(QPointF(frame.left(), cy + 1.5 * text), frame.bottomRight()),
        Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap, caption);
    painter.restore();
}

QString TitleText(const TFigureModel &model) {
    const QString file = QString::fromStdString(model.Header().station_file);
    const RunFigures &c = model.Counts();
    if (c.not_reached == 0) {
        return file;
    }
    return QString("%1 \u2014 stopped after %2 of %3 stations")
        .arg(file, GroupedNumber(c.read), GroupedNumber(c.Stations()));
}

QString ParametersText(const TFigureModel &model) {
    const FigureHeader &h = model.Header();
    return QString(
               "search distance %1 m \u00b7 increment %2 m \u00b7 N %3 \u00b7 "
               "cell size %4 m \u00b7 suspects beyond %5 robust scales")
        .arg(QString::number(h.parameters.search_distance, 'g', 12),
             QString::number(h.parameters.increment, 'g', 12),
             QString::number(h.parameters.min_points),
             QString::number(h.parameters.cell_size, 'g', 12),
             QString::number(h.suspect_threshold, 'g', 6));
}

QString CountsText(const TFigureModel &model) {
    const RunFigures &c = model.Counts();
    QString text =
        QString("%1 stations \u00b7 %2 estimated \u00b7 %3 blank \u00b7 "
                "%4 skipped")
            .arg(GroupedNumber(c.Stations()), GroupedNumber(c.estimated),
                 GroupedNumber(c.blank), GroupedNumber(c.skipped));
    if (c.duplicates > 0) {
        text +=
            QString(" \u00b7 %1 duplicates").arg(GroupedNumber(c.duplicates));
    }
    if (c.not_reached > 0) {
        text +=
            QString(" \u00b7 %1 not reached").arg(GroupedNumber(c.not_reached));
    }
    text += QString(" \u00b7 %1 suspects").arg(GroupedNumber(c.suspects));
    if (std::isfinite(c.RmsR2())) {
        text +=
            QString(" \u00b7 RMS r2 %1 mGal").arg(FixedNumber(c.RmsR2(), 3));
    }
    return text;
}

FigureLayout LayoutFigure(const QSizeF &size) {
    FigureLayout layout;
    const double u = std::min(size.width() / reference_width,
                              size.height() / reference_height);
    layout.unit = u;
    layout.text = std::max(base_text * u, min_text);
    const double t = layout.text;
    const double margin = 1.5 * t;
    layout.title = QRectF(margin, margin, size.width() - 2 * margin, 4.6 * t);
    const double top = layout.title.bottom() + 1.0 * t;
    const double split = size.width() * 0.63;
    layout.map = QRectF(QPointF(margin + 6.2 * t, top),
                        QPointF(split, size.height() - margin - 3.0 * t));
    const double right_left = split + 3.0 * t;
    const double right_width = size.width() - margin - right_left;
    layout.colour_bar = QRectF(right_left, top, right_width, 4.0 * t);
    layout.legend = QRectF(right_left, layout.colour_bar.bottom() + 1.0 * t,
                           right_width, 6.4 * t);
    layout.histogram =
        QRectF(QPointF(right_left, layout.legend.bottom() + 1.5 * t),
               QPointF(size.width() - margin, size.height() - margin));
    return layout;
}

TMapView DrawFigure(QPainter &painter, const QSizeF &size,
                    const TFigureModel &model, double sharpness) {
    const FigureLayout layout = LayoutFigure(size);
    const double t = layout.text;
    painter.save();
    painter.fillRect(QRectF(QPointF(0, 0), size), Qt::white);
    painter.setPen(ink);
    painter.setFont(FigureFont(1.5 * t, true));
    const QFontMetricsF big(painter.font());
    painter.drawText(
        QPointF(layout.title.left(), layout.title.top() + big.ascent()),
        TitleText(model));
    painter.setFont(FigureFont(t));
    const QFontMetricsF small(painter.font());
    const double line2 = layout.title.top() + big.height() + 0.4 * t;
    painter.drawText(QPointF(layout.title.left(), line2 + small.ascent()),
                     ParametersText(model));
    painter.setFont(FigureFont(t, true));
    painter.drawText(
        QPointF(layout.title.left(), line2 + 1.5 * t + small.ascent()),
        CountsText(model));

    TMapView view;
    FitMap(view, model.Extent(), layout.map, t);
    const double radius = DotRadius(model, view);
    const QImage dots = RenderDots(model, view, radius, sharpness);
    DrawMap(painter, view, model, dots, radius, MapDecor{t, -1, true});
    DrawColourBar(painter, layout.colour_bar, model, t);
    DrawLegend(painter, layout.legend, t);
    DrawHistogram(painter, layout.histogram, model, t);
    painter.restore();
    return view;
}

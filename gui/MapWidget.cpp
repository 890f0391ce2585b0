// The results window's map: a cached image of the dots per view, the marks
// and axes drawn over it by the figure's own functions.
#include "gui/MapWidget.h"

#include <cmath>

#include <QHelpEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QToolTip>
#include <QWheelEvent>

#include "gui/ReviewBook.h"
#include "gui/StationTable.h"
#include "plot/DotLayer.h"
#include "plot/Figure.h"
#include "plot/FigureModel.h"

namespace {

// Room for the axes' labels around the map's frame, pixels.
constexpr int margin_left = 64;
constexpr int margin_bottom = 42;
constexpr int margin_other = 8;
constexpr double text_pixels = 12.0;
// Pixels the pointer moves before a press becomes a drag.
constexpr int drag_threshold = 4;
// A wheel notch (120 units) zooms by 2^(1/4).
constexpr double wheel_units_per_doubling = 480.0;
// A station answers the pointer this many pixels beyond its dot.
constexpr double pick_slack = 4.0;
// The decisions' marks: pixels beyond the dot, and their colours.
constexpr double decision_reach = 7.0;
constexpr double decision_pen = 2.5;
const QColor rejected_colour(200, 20, 20);
const QColor fixed_colour(0, 130, 60);
const QColor kept_colour(20, 70, 200);

} // namespace

TMapWidget::TMapWidget(const TFigureModel &model_, QWidget *parent)
    : QWidget(parent), model(model_) {
    setMouseTracking(
        true); // the pointer resting over a station asks for its tooltip
    setMinimumSize(320, 240);
    setCursor(Qt::OpenHandCursor);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

QRectF TMapWidget::Frame() const {
    return QRectF(rect()).adjusted(margin_left, margin_other, -margin_other,
                                   -margin_bottom);
}

double TMapWidget::Radius() const { return DotRadius(model, view); }

void TMapWidget::ViewChanged() {
    dots_stale = true;
    update(); // paints coalesce: at most one new image of the dots per frame
}

void TMapWidget::resizeEvent(QResizeEvent *event) {
    if (!fitted || !moved) {
        FitMap(view, model.Extent(), Frame(), text_pixels);
        fitted = true;
    } else {
        view.SetFrame(Frame());
    }
    dots_stale = true;
    QWidget::resizeEvent(event);
}

void TMapWidget::paintEvent(QPaintEvent *) {
    if (!fitted) {
        FitMap(view, model.Extent(), Frame(), text_pixels);
        fitted = true;
    }
    const double radius = Radius();
    if (dots_stale) {
        dots = RenderDots(model, view, radius);
        dots_stale = false;
        ++dot_renders;
    }
    QPainter painter(this);
    painter.fillRect(rect(), palette().window());
    DrawMap(painter, view, model, dots, radius,
            MapDecor{text_pixels, selected, true});
    DrawDecisions(painter, radius);
}

void TMapWidget::SetReview(const TReviewBook *book) {
    review = book;
    update();
}

void TMapWidget::DrawDecisions(QPainter &painter, double radius) const {
    if (review == nullptr) {
        return;
    }
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.setClipRect(Frame());
    painter.setBrush(Qt::NoBrush);
    const double reach = radius + decision_reach;
    const std::vector<ReviewRow> &rows = review->Rows();
    for (size_t r = 0; r < rows.size(); ++r) {
        const int64_t k = review->StationOfRow(r);
        if (k < 0) {
            continue;
        }
        const QcStation &s = model.Stations()[static_cast<size_t>(k)];
        if (!std::isfinite(s.x) || !std::isfinite(s.y)) {
            continue;
        }
        const QPointF at = view.ToPixel(s.x, s.y);
        // Each mark over a white rim, so that it shows on any dot.
        const auto stroke = [&](const QColor &colour, const auto &draw) {
            painter.setPen(QPen(Qt::white, decision_pen + 2.5, Qt::SolidLine,
                                Qt::RoundCap, Qt::RoundJoin));
            draw();
            painter.setPen(QPen(colour, decision_pen, Qt::SolidLine,
                                Qt::RoundCap, Qt::RoundJoin));
            draw();
        };
        switch (rows[r].decision) {
        case Decision::Reject:
            stroke(rejected_colour, [&] {
                painter.drawLine(at + QPointF(-reach, -reach),
                                 at + QPointF(reach, reach));
                painter.drawLine(at + QPointF(-reach, reach),
                                 at + QPointF(reach, -reach));
            });
            break;
        case Decision::Fix:
            stroke(fixed_colour, [&] {
                const QPointF diamond[] = {
                    at + QPointF(0, -reach), at + QPointF(reach, 0),
                    at + QPointF(0, reach), at + QPointF(-reach, 0)};
                painter.drawPolygon(diamond, 4);
            });
            break;
        case Decision::Keep:
        case Decision::Level:
            // A tick beside the dot, to its upper right.
            stroke(kept_colour, [&] {
                const QPointF tick[] = {
                    at + QPointF(radius * 0.6, -radius * 0.4),
                    at + QPointF(radius * 0.6 + 4, -radius * 0.4 + 4),
                    at + QPointF(radius * 0.6 + 13, -radius * 0.4 - 9)};
                painter.drawPolyline(tick, 3);
            });
            break;
        }
    }
    painter.restore();
}

void TMapWidget::SelectStation(int64_t k, bool centre) {
    selected = k >= 0 && static_cast<size_t>(k) < model.Size() ? k : -1;
    if (centre && selected >= 0) {
        const QcStation &s = model.Stations()[static_cast<size_t>(selected)];
        if (std::isfinite(s.x) && std::isfinite(s.y)) {
            view.CentreOn(s.x, s.y);
            moved = true;
            dots_stale = true;
        }
    }
    update();
}

int64_t TMapWidget::StationAt(const QPoint &pixel) const {
    if (!Frame().contains(pixel)) {
        return -1;
    }
    double x = 0.0, y = 0.0;
    view.ToWorld(QPointF(pixel) + QPointF(0.5, 0.5), x, y);
    return model.Nearest(x, y, (Radius() + pick_slack) / view.PixelsPerMetre());
}

void TMapWidget::wheelEvent(QWheelEvent *event) {
    const double factor =
        std::pow(2.0, event->angleDelta().y() / wheel_units_per_doubling);
    view.ZoomAt(event->position(), factor);
    moved = true;
    ViewChanged();
    event->accept();
}

void TMapWidget::mousePressEvent(QMouseEvent *event) {
    if (event->button() != Qt::LeftButton) {
        QWidget::mousePressEvent(event);
        return;
    }
    press_at = last_at = event->position().toPoint();
    pressed = true;
    dragging = false;
}

void TMapWidget::mouseMoveEvent(QMouseEvent *event) {
    if (!pressed) {
        return;
    }
    const QPoint at = event->position().toPoint();
    if (!dragging && (at - press_at).manhattanLength() >= drag_threshold) {
        dragging = true;
        setCursor(Qt::ClosedHandCursor);
    }
    if (dragging) {
        view.PanBy(QPointF(at - last_at));
        last_at = at;
        moved = true;
        ViewChanged();
    }
}

void TMapWidget::mouseReleaseEvent(QMouseEvent *event) {
    if (!pressed || event->button() != Qt::LeftButton) {
        return;
    }
    pressed = false;
    if (dragging) {
        dragging = false;
        setCursor(Qt::OpenHandCursor);
        return;
    }
    const int64_t k = StationAt(event->position().toPoint());
    if (k >= 0) {
        SelectStation(k, false);
        emit StationChosen(k);
    }
}

bool TMapWidget::event(QEvent *event) {
    if (event->type() == QEvent::ToolTip) {
        const auto *help = static_cast<QHelpEvent *>(event);
        const int64_t k = StationAt(help->pos());
        if (k >= 0) {
            QToolTip::showText(
                help->globalPos(),
                StationDescription(model.Stations(), static_cast<size_t>(k)),
                this);
        } else {
            QToolTip::hideText();
            event->ignore();
        }
        return true;
    }
    return QWidget::event(event);
}

// The interactive map of the results window: the figure's map of the
// stations, zoomed with the wheel around the pointer, panned by dragging,
// with a tooltip over a station and a click that chooses one, and the
// review's decisions drawn over the stations they are on.
#pragma once

#include <cstdint>

#include <QImage>
#include <QPoint>
#include <QWidget>

class QPainter;

#include "plot/MapView.h"

class TFigureModel;
class TReviewBook;

class TMapWidget : public QWidget {
    Q_OBJECT

  public:
    // `model` must outlive the widget.
    explicit TMapWidget(const TFigureModel &model, QWidget *parent = nullptr);

    // The station highlighted; -1 for none.
    int64_t SelectedStation() const { return selected; }
    // Highlights station k (-1: none); `centre` also moves it to the middle.
    void SelectStation(int64_t k, bool centre);
    // The station drawn at `pixel` (widget coordinates); -1 for none.
    int64_t StationAt(const QPoint &pixel) const;
    // The decisions drawn over their stations (null: none): a rejected
    // station crossed out, a fixed one in a diamond, a kept one ticked.
    // `book` must outlive the widget or be replaced first.
    void SetReview(const TReviewBook *book);
    // The view as last drawn (tests read where a station lies).
    const TMapView &View() const { return view; }
    // Times the dots were drawn into their image: once per view that was
    // painted, however many wheel steps came before the paint.
    int64_t DotRenders() const { return dot_renders; }

  signals:
    // The user clicked station k.
    void StationChosen(qint64 k);

  protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void wheelEvent(QWheelEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    bool event(QEvent *event) override;

  private:
    QRectF Frame() const;
    double Radius() const;
    void ViewChanged();
    void DrawDecisions(QPainter &painter, double radius) const;

    const TFigureModel &model;
    const TReviewBook *review = nullptr;
    TMapView view;
    bool fitted = false; // the view was fitted to the survey once
    bool moved = false;  // the user zoomed or panned since
    QImage dots;         // the dots of the view, drawn once per view
    bool dots_stale = true;
    int64_t dot_renders = 0;
    int64_t selected = -1;
    QPoint press_at, last_at;
    bool dragging = false;
    bool pressed = false;
};

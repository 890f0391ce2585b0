// Where the survey falls on a picture: one scale for x and y (equal scale),
// north up, a world point at the middle of a frame of pixels. Pixel y grows
// downwards, world y (northing, metres) upwards.
#pragma once

#include <QPointF>
#include <QRectF>

// A rectangle of the survey's plane, metres.
struct WorldBox {
    double x0 = 0.0, y0 = 0.0; // south-west corner
    double x1 = 0.0, y1 = 0.0; // north-east corner
    double Width() const { return x1 - x0; }
    double Height() const { return y1 - y0; }
};

class TMapView {
  public:
    // Shows `box` whole in `frame`, as large as one scale for both axes
    // allows, centred, with `margin` pixels kept free on every side. A box
    // without width or height is shown at a scale of one pixel per
    // `fallback_extent` / frame metres.
    void Fit(const WorldBox &box, const QRectF &frame, double margin,
             double fallback_extent = 1000.0);

    QPointF ToPixel(double x, double y) const {
        return {frame.center().x() + (x - centre_x) * scale,
                frame.center().y() - (y - centre_y) * scale};
    }
    void ToWorld(const QPointF &pixel, double &x, double &y) const {
        x = centre_x + (pixel.x() - frame.center().x()) / scale;
        y = centre_y - (pixel.y() - frame.center().y()) / scale;
    }

    // Multiplies the scale by `factor`, keeping the world point under
    // `pixel` where it is (zoom around the pointer).
    void ZoomAt(const QPointF &pixel, double factor);
    // Moves the picture by `delta` pixels (a drag).
    void PanBy(const QPointF &delta);
    // Puts (x, y), metres, at the middle of the frame.
    void CentreOn(double x, double y);
    // A new frame, keeping the world centre and the scale.
    void SetFrame(const QRectF &new_frame) { frame = new_frame; }

    // The world rectangle the frame shows.
    WorldBox Visible() const;
    const QRectF &Frame() const { return frame; }
    double PixelsPerMetre() const { return scale; }
    double CentreX() const { return centre_x; }
    double CentreY() const { return centre_y; }

    // Scales beyond which zooming stops, pixels per metre: a millimetre
    // across the frame at most, a thousand kilometres per pixel at least.
    static constexpr double max_scale = 1000.0;
    static constexpr double min_scale = 1e-6;

  private:
    QRectF frame{0.0, 0.0, 1.0, 1.0};
    double centre_x = 0.0, centre_y = 0.0; // world point at the frame's middle
    double scale = 1.0;                    // pixels per metre, both axes
};

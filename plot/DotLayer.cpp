// Stamping the stations' dots into an image.
#include "plot/DotLayer.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "plot/FigureModel.h"
#include "plot/MapView.h"

namespace {

constexpr QRgb edge_colour = 0x383838;
constexpr QRgb ring_colour = 0x8c8c8c;
constexpr double edge_width = 0.8;  // pixels, of a dot's dark edge
constexpr double ring_width = 2.0;  // pixels, of a grey ring: thicker than an edge
constexpr double edge_from = 2.0;   // radius from which dots get an edge
constexpr int supersample = 4;      // per axis, for the stamps' coverage
constexpr double typical_share = 0.3; // of the spacing, for the radius

// One pixel of a stamp: its offset from the centre pixel and how much of it
// the fill and the edge cover (0 .. 255 each, together at most 255).
struct StampPixel {
    int dx, dy;
    uint8_t fill, edge;
};

// Coverage of the pixel at (dx, dy) by the annulus between radii `inner`
// and `outer` (inner 0: a disc), by supersampling.
double Coverage(int dx, int dy, double inner, double outer) {
    int inside = 0;
    for (int i = 0; i < supersample; ++i) {
        for (int j = 0; j < supersample; ++j) {
            const double x = dx - 0.5 + (i + 0.5) / supersample;
            const double y = dy - 0.5 + (j + 0.5) / supersample;
            const double r = std::sqrt(x * x + y * y);
            inside += r <= outer && r >= inner ? 1 : 0;
        }
    }
    return static_cast<double>(inside) / (supersample * supersample);
}

// A dot: fill within radius - edge, edge to radius. `edged` false: fill only.
// A ring: edge only, between radius - ring_width and radius.
std::vector<StampPixel> MakeStamp(double radius, bool ring) {
    std::vector<StampPixel> stamp;
    const int reach = static_cast<int>(std::ceil(radius + 0.5));
    const bool edged = !ring && radius >= edge_from;
    for (int dy = -reach; dy <= reach; ++dy) {
        for (int dx = -reach; dx <= reach; ++dx) {
            double fill = 0.0, edge = 0.0;
            if (ring) {
                edge = Coverage(dx, dy, std::max(radius - ring_width, 0.0),
                                radius);
            } else if (edged) {
                fill = Coverage(dx, dy, 0.0, radius - edge_width);
                edge = Coverage(dx, dy, radius - edge_width, radius);
            } else {
                fill = Coverage(dx, dy, 0.0, radius);
            }
            if (fill + edge > 0.0) {
                stamp.push_back(
                    {dx, dy, static_cast<uint8_t>(std::lround(fill * 255.0)),
                     static_cast<uint8_t>(std::lround(edge * 255.0))});
            }
        }
    }
    // The smallest dot covers at least its centre pixel whole.
    if (stamp.empty() ||
        std::none_of(stamp.begin(), stamp.end(),
                     [](const StampPixel &p) { return p.dx == 0 && p.dy == 0; })) {
        stamp.push_back({0, 0, static_cast<uint8_t>(ring ? 0 : 255),
                         static_cast<uint8_t>(ring ? 255 : 0)});
    }
    return stamp;
}

// Source-over of an opaque colour at coverage a (0..255) onto a
// premultiplied pixel; the two colours' shares add up as the stamp's.
inline uint32_t Blend(uint32_t dst, QRgb fill, uint32_t fa, QRgb edge,
                      uint32_t ea) {
    const uint32_t a = fa + ea; // at most 255
    const uint32_t keep = 255 - a;
    const auto channel = [&](int shift) {
        const uint32_t s = ((fill >> shift) & 0xff) * fa +
                           ((edge >> shift) & 0xff) * ea;
        const uint32_t d = ((dst >> shift) & 0xff) * keep;
        return ((s + d + 127) / 255) << shift;
    };
    return channel(24) | channel(16) | channel(8) | channel(0);
}

} // namespace

double DotRadius(const TFigureModel &model, const TMapView &view) {
    const WorldBox &box = model.Extent();
    const double drawn = static_cast<double>(std::max<size_t>(model.Size(), 1));
    // Pixels of the stations' extent on the screen, at least a line of them.
    const double scale = view.PixelsPerMetre();
    const double w = std::max(box.Width() * scale, 1.0);
    const double h = std::max(box.Height() * scale, 1.0);
    const double spacing = std::sqrt(std::max(w * h, std::max(w, h)) / drawn);
    return std::clamp(typical_share * spacing, min_dot_radius, max_dot_radius);
}

QImage RenderDots(const TFigureModel &model, const TMapView &view,
                  double radius, double scale_factor) {
    const QRectF frame = view.Frame();
    const int width = std::max(1, static_cast<int>(std::lround(frame.width() * scale_factor)));
    const int height = std::max(1, static_cast<int>(std::lround(frame.height() * scale_factor)));
    QImage image(width, height, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);

    const double r = radius * scale_factor;
    const std::vector<StampPixel> dot = MakeStamp(r, false);
    const std::vector<StampPixel> ring = MakeStamp(std::max(r, 1.5), true);
    // Pixel of offset (fx, fy): the world-to-pixel map of the view, moved to
    // the image's corner and folded into one multiply-add per axis.
    const double s = view.PixelsPerMetre() * scale_factor;
    const QPointF o = view.ToPixel(model.OriginX(), model.OriginY());
    const double ax = (o.x() - frame.left()) * scale_factor;
    const double ay = (o.y() - frame.top()) * scale_factor;
    const int reach = static_cast<int>(std::ceil(r + 2.0));

    const std::vector<float> &fx = model.OffsetX();
    const std::vector<float> &fy = model.OffsetY();
    const std::vector<DotKind> &kind = model.Kind();
    const std::vector<uint8_t> &colour = model.ColourIndex();
    const TColourScale &scale = model.Scale();
    auto *bits = reinterpret_cast<uint32_t *>(image.bits());
    const auto stride = static_cast<size_t>(image.bytesPerLine() / 4);

    for (const uint32_t k : model.DrawOrder()) {
        const double px = ax + fx[k] * s;
        const double py = ay - fy[k] * s;
        if (!(px > -reach && px < width + reach && py > -reach &&
              py < height + reach)) {
            continue; // outside the frame (and NaN)
        }
        const int cx = static_cast<int>(std::floor(px));
        const int cy = static_cast<int>(std::floor(py));
        const bool is_ring = kind[k] == DotKind::NoValue;
        const std::vector<StampPixel> &stamp = is_ring ? ring : dot;
        const QRgb fill = scale.Colour(colour[k]);
        const bool inside = cx - reach >= 0 && cx + reach < width &&
                            cy - reach >= 0 && cy + reach < height;
        for (const StampPixel &p : stamp) {
            const int x = cx + p.dx;
            const int y = cy + p.dy;
            if (!inside && (x < 0 || x >= width || y < 0 || y >= height)) {
                continue;
            }
            uint32_t &pixel = bits[static_cast<size_t>(y) * stride + x];
            pixel = is_ring ? Blend(pixel, 0, 0, ring_colour | 0xff000000u, p.edge)
                            : Blend(pixel, fill | 0xff000000u, p.fill,
                                    edge_colour | 0xff000000u, p.edge);
        }
    }
    return image;
}

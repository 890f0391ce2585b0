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
constexpr double edge_width = 0.8; // pixels, of a dot's dark edge
constexpr double ring_width =
    2.0; // pixels, of a grey ring: thicker than an edge
constexpr double edge_from = 2.0;     // radius from which dots get an edge
constexpr int supersample = 4;        // per axis, for the stamps' coverage
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
        std::none_of(stamp.begin(), stamp.end(), [](const StampPixel &p) {
            return p.dx == 0 && p.dy == 0;
        })) {
        stamp.push_back({0, 0, static_cast<uint8_t>(ring ? 0 : 255),
                         static_cast<uint8_t>(ring ? 255 : 0)});
    }
    return stamp;
}

// A stamp ready to write: per pixel its offset, the premultiplied colour it
// lays down for each step of the scale (fill and edge mixed by coverage), and
// how much of what lies below shows through (0 .. 255).
struct ReadyStamp {
    std::vector<int> dx, dy;
    std::vector<uint32_t> source; // [step * pixels + pixel]
    std::vector<uint32_t> keep;
};

uint32_t Premultiplied(QRgb fill, uint32_t fa, QRgb edge, uint32_t ea) {
    const auto channel = [&](int shift) {
        return ((((fill >> shift) & 0xff) * fa + ((edge >> shift) & 0xff) * ea +
                 127) /
                255)
               << shift;
    };
    return ((fa + ea) << 24) | channel(16) | channel(8) | channel(0);
}

ReadyStamp Ready(const std::vector<StampPixel> &stamp,
                 const TColourScale &scale, bool ring) {
    ReadyStamp ready;
    const size_t n = stamp.size();
    ready.source.resize(n * TColourScale::steps);
    for (const StampPixel &p : stamp) {
        ready.dx.push_back(p.dx);
        ready.dy.push_back(p.dy);
        ready.keep.push_back(255u - p.fill - p.edge);
    }
    for (int step = 0; step < TColourScale::steps; ++step) {
        for (size_t j = 0; j < n; ++j) {
            ready.source[static_cast<size_t>(step) * n + j] =
                ring ? Premultiplied(0, 0, ring_colour, stamp[j].edge)
                     : Premultiplied(scale.Colour(step), stamp[j].fill,
                                     edge_colour, stamp[j].edge);
        }
    }
    return ready;
}

// source + destination x keep / 255, two channels at a time.
inline uint32_t Over(uint32_t source, uint32_t destination, uint32_t keep) {
    if (keep == 0) {
        return source;
    }
    uint32_t rb = (destination & 0x00ff00ffu) * keep;
    uint32_t ag = ((destination >> 8) & 0x00ff00ffu) * keep;
    rb = ((rb + ((rb >> 8) & 0x00ff00ffu) + 0x00800080u) >> 8) & 0x00ff00ffu;
    ag = ((ag + ((ag >> 8) & 0x00ff00ffu) + 0x00800080u) >> 8) & 0x00ff00ffu;
    return source + (rb | (ag << 8));
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
    const int width = std::max(
        1, static_cast<int>(std::lround(frame.width() * scale_factor)));
    const int height = std::max(
        1, static_cast<int>(std::lround(frame.height() * scale_factor)));
    QImage image(width, height, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);

    const double r = radius * scale_factor;
    const TColourScale &scale = model.Scale();
    const ReadyStamp dot = Ready(MakeStamp(r, false), scale, false);
    const ReadyStamp ring =
        Ready(MakeStamp(std::max(r, 1.5), true), scale, true);
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
        const ReadyStamp &stamp = kind[k] == DotKind::NoValue ? ring : dot;
        const size_t n = stamp.keep.size();
        const uint32_t *source = stamp.source.data() + colour[k] * n;
        const bool inside = cx - reach >= 0 && cx + reach < width &&
                            cy - reach >= 0 && cy + reach < height;
        for (size_t j = 0; j < n; ++j) {
            const int x = cx + stamp.dx[j];
            const int y = cy + stamp.dy[j];
            if (!inside && (x < 0 || x >= width || y < 0 || y >= height)) {
                continue;
            }
            uint32_t &pixel = bits[static_cast<size_t>(y) * stride + x];
            pixel = Over(source[j], pixel, stamp.keep[j]);
        }
    }
    return image;
}

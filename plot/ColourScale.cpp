// The residuals' colour scale: ColorBrewer's red-blue diverging scheme of 11
// classes, interpolated.
#include "plot/ColourScale.h"

#include <algorithm>
#include <cmath>

namespace {

// From -bound (dark blue) through a light grey at 0 to +bound (dark red). The
// scheme is one of those ColorBrewer marks as safe for colour-blind readers.
constexpr QRgb anchors[] = {0x053061, 0x2166ac, 0x4393c3, 0x92c5de,
                            0xd1e5f0, 0xf7f7f7, 0xfddbc7, 0xf4a582,
                            0xd6604d, 0xb2182b, 0x67001f};
constexpr int anchor_count = static_cast<int>(std::size(anchors));

int Mix(int a, int b, double t) {
    return static_cast<int>(std::lround(a + (b - a) * t));
}

} // namespace

TColourScale::TColourScale(double bound_)
    : bound(bound_ > 0.0 && std::isfinite(bound_) ? bound_ : 1.0) {
    for (int k = 0; k < steps; ++k) {
        // Position along the anchors, 0 .. anchor_count - 1.
        const double at = static_cast<double>(k) * (anchor_count - 1) /
                          static_cast<double>(steps - 1);
        const int low = std::min(static_cast<int>(at), anchor_count - 2);
        const double t = at - low;
        const QRgb a = anchors[low];
        const QRgb b = anchors[low + 1];
        table[static_cast<size_t>(k)] =
            qRgb(Mix(qRed(a), qRed(b), t), Mix(qGreen(a), qGreen(b), t),
                 Mix(qBlue(a), qBlue(b), t));
    }
}

uint8_t TColourScale::Index(double value) const {
    if (!(value == value)) {
        return steps / 2;
    }
    // -bound .. +bound onto 0 .. steps - 1; the middle step is centred on 0.
    const double at = (value / bound + 1.0) * 0.5 * (steps - 1);
    return static_cast<uint8_t>(
        std::lround(std::clamp(at, 0.0, static_cast<double>(steps - 1))));
}

double TColourScale::ValueAt(int index) const {
    return (2.0 * index / (steps - 1) - 1.0) * bound;
}

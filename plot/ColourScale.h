// The colour scale of the residuals: a diverging scale that colour-blind eyes
// read too (blue below 0, a light grey at 0, red above), clipped at a bound.
#pragma once

#include <array>
#include <cstdint>

#include <QRgb>

class TColourScale {
  public:
    // Steps of the scale; an index is 0 (at -bound or below) to steps - 1 (at
    // +bound or above), the middle step at 0.
    static constexpr int steps = 255;

    // `bound` in mGal, above 0 (anything else is taken as 1).
    explicit TColourScale(double bound = 1.0);

    double Bound() const { return bound; }
    // The step of `value`; the middle step for NaN.
    uint8_t Index(double value) const;
    // The colour of a step, and of a value, opaque.
    QRgb Colour(int index) const { return table[static_cast<size_t>(index)]; }
    QRgb ColourOf(double value) const { return Colour(Index(value)); }
    // The value at the middle of a step, mGal.
    double ValueAt(int index) const;

  private:
    double bound;
    std::array<QRgb, steps> table;
};

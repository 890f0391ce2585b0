// The covariance model of a run: a spherical variogram under an anisotropic
// distance, inline for the search, the kriging system and the error variance.
#pragma once

#include <cmath>

#include "kriging/Cube.h"

// A point of the plane, in the units of the samples (metres).
struct PlanePoint {
    double x;
    double y;
};

// The anisotropy of the distance: an offset is turned by the angle into u
// along the anisotropy direction and v across it, and v^2 is weighed by the
// ratio. cos_angle and sin_angle are those of the angle in radians.
struct Anisotropy {
    double ratio = 1.0;
    double cos_angle = 1.0;
    double sin_angle = 0.0;
    bool operator==(const Anisotropy &) const = default;

    // The anisotropic distance of the offset (dx, dy), node minus sample:
    // sqrt(ratio v^2 + u^2) in extended precision. A negative ratio can make
    // the radicand negative, which raises the invalid-operation fault.
    double Distance(double dx, double dy) const {
        double u = dx, v = dy;
        // Unrotated, finite offsets turn into themselves exactly (a product
        // by 1, a signed zero added), with no flag raised: the rotation is
        // left out.
        if (!(cos_angle == 1.0 && sin_angle == 0.0 && std::isfinite(dx) &&
              std::isfinite(dy))) {
            u = static_cast<long double>(dx) * cos_angle +
                static_cast<long double>(dy) * sin_angle;
            v = static_cast<long double>(dy) * cos_angle -
                static_cast<long double>(dx) * sin_angle;
        }
        return std::sqrt(static_cast<long double>(ratio) * v * v +
                         static_cast<long double>(u) * u);
    }
};

// The spherical model: nugget and sill in the values' units squared, range in
// metres, and the anisotropy its distances are measured with.
struct VariogramModel {
    double nugget = 0.0;
    double sill = 0.0;
    double range = 0.0;
    Anisotropy anisotropy;
    bool operator==(const VariogramModel &) const = default;
};

// The model's semivariance between two points, in extended precision. range^3
// is the same power for every pair: it is kept for the range it was computed
// from and recomputed only when the range changes, which gives the identical
// value at a fraction of the cost.
class TSemivariance {
  public:
    double Between(const VariogramModel &m, PlanePoint p, PlanePoint q) const {
        const double h =
            m.anisotropy.Distance(static_cast<long double>(p.x) - q.x,
                                  static_cast<long double>(p.y) - q.y);
        if (h < m.range) {
            // nugget + (sill - nugget) * (1.5 h/a - 0.5 h^3/a^3)
            const long double h3 = CubeOf(h); // std::pow(h, 3.0L), bit for bit
            if (!range_cubed_valid || range_cubed_of != m.range) {
                range_cubed = std::pow(static_cast<long double>(m.range), 3.0L);
                range_cubed_of = m.range;
                range_cubed_valid = true;
            }
            return m.nugget +
                   (static_cast<long double>(m.sill) - m.nugget) *
                       (1.5L * h / m.range - 0.5L * h3 / range_cubed);
        }
        return m.sill;
    }

  private:
    mutable bool range_cubed_valid = false;
    mutable double range_cubed_of = 0.0;
    mutable long double range_cubed = 0.0L;
};

// Covariance of the model between two points, sill - semivariance, in plain
// double arithmetic: it qualifies an estimate (its error variance) and never
// enters one.
inline double PlainCovariance(const VariogramModel &m, double x1, double y1,
                              double x2, double y2) {
    const Anisotropy &a = m.anisotropy;
    const double ddx = x1 - x2;
    const double ddy = y1 - y2;
    const double u = ddx * a.cos_angle + ddy * a.sin_angle;
    const double v = ddy * a.cos_angle - ddx * a.sin_angle;
    const double h = std::sqrt(a.ratio * v * v + u * u);
    if (!(h < m.range)) {
        return 0.0; // at or beyond the range: sill - sill
    }
    // spherical model: gamma = nugget + (sill - nugget) (1.5 t - 0.5 t^3)
    const double t = h / m.range;
    const double gamma =
        m.nugget + (m.sill - m.nugget) * (1.5 * t - 0.5 * t * t * t);
    return m.sill - gamma;
}

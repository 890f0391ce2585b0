// The causes of suspects, the calibration of z and the density check.
#include "qc/Diagnosis.h"

#include <algorithm>
#include <cmath>

#include "platform/Locale.h"
#include "qc/CompanionTable.h"

namespace {

// One correction tried: the value it gives (and the height), how far its
// residual lies from the median in the scales it is judged by.
struct Candidate {
    Cause cause;
    double value;
    double h;
    double standing;
};

// A DEM's own error, one standard deviation, against the tolerance beyond
// which a height is called wrong.
constexpr double dem_tolerance_deviations = 2.5;
// The density check needs this many good stations, and heights that vary by
// more than this (metres, robust scale of the height residuals).
constexpr int64_t density_min_stations = 30;
constexpr double density_min_height_spread = 0.5;
// Huber's tuning constant, in robust scales of the residuals, and the
// reweighting steps of the density regression.
constexpr double huber_scales = 1.345;
constexpr int density_iterations = 30;
// The share of good stations beyond |z_cal| = z_calibration_quantile.
constexpr double z_calibration_share = 0.95;
constexpr double z_normal_quantile = 1.96;
constexpr double mad_to_sigma = 1.4826;

double Quantile(std::vector<double> values, double q) {
    if (values.empty()) {
        return qc_none;
    }
    const size_t at = std::min(
        values.size() - 1,
        static_cast<size_t>(q * static_cast<double>(values.size())));
    std::nth_element(values.begin(), values.begin() + at, values.end());
    return values[at];
}

double Median(std::vector<double> values) { return Quantile(values, 0.5); }

bool Finite(double v) { return std::isfinite(v); }

} // namespace

const char *CauseName(Cause cause) {
    switch (cause) {
    case Cause::None:
        return "";
    case Cause::Sign:
        return "sign";
    case Cause::Decimal:
        return "decimal";
    case Cause::Digits:
        return "digits";
    case Cause::Height:
        return "height";
    case Cause::Duplicate:
        return "duplicate";
    case Cause::Unexplained:
        return "unexplained";
    case Cause::Ambiguous:
        return "ambiguous";
    case Cause::HeightOnly:
        return "height-only";
    case Cause::RoughGround:
        return "rough-ground";
    }
    return "";
}

double HeightGradient(double density) {
    return free_air_gradient - slab_gradient * density;
}

const StationDiagnosis *Diagnosis::Of(size_t k) const {
    const auto at = std::lower_bound(
        by_station.begin(), by_station.end(), k,
        [&](uint32_t entry, size_t station) {
            return stations[entry].station < station;
        });
    if (at == by_station.end() || stations[*at].station != k) {
        return nullptr;
    }
    return &stations[*at];
}

int64_t Diagnosis::Count(Cause cause) const {
    return std::count_if(
        stations.begin(), stations.end(),
        [cause](const StationDiagnosis &d) { return d.cause == cause; });
}

void Diagnosis::Index() {
    by_station.resize(stations.size());
    for (uint32_t k = 0; k < by_station.size(); ++k) {
        by_station[k] = k;
    }
    std::sort(by_station.begin(), by_station.end(),
              [&](uint32_t a, uint32_t b) {
                  return stations[a].station < stations[b].station;
              });
}

std::vector<double> SwappedDigitValues(const std::string &text,
                                       char decimal_separator) {
    std::vector<double> values;
    const auto digit = [](char c) { return c >= '0' && c <= '9'; };
    for (size_t i = 0; i + 1 < text.size(); ++i) {
        if (!digit(text[i]) || !digit(text[i + 1]) || text[i] == text[i + 1]) {
            continue;
        }
        std::string swapped = text;
        std::swap(swapped[i], swapped[i + 1]);
        double value = 0.0;
        if (TryStrToFloat(swapped, value, decimal_separator)) {
            values.push_back(value);
        }
    }
    return values;
}

double HeightResidualScale(const TQcStations &stations) {
    std::vector<double> residuals;
    for (size_t k = 0; k < stations.Size(); ++k) {
        const QcStation &s = stations[k];
        if (s.Judged() && !s.suspect && Finite(s.h) && Finite(s.h_estimate)) {
            residuals.push_back(s.h_estimate - s.h);
        }
    }
    if (residuals.empty()) {
        return qc_none;
    }
    const double centre = Median(residuals);
    for (double &r : residuals) {
        r = std::fabs(r - centre);
    }
    return mad_to_sigma * Median(std::move(residuals));
}

DensityCheck CheckDensity(const TQcStations &stations, double density) {
    DensityCheck check;
    check.used = density;
    std::vector<double> x, y;
    bool any_height = false;
    for (size_t k = 0; k < stations.Size(); ++k) {
        const QcStation &s = stations[k];
        any_height = any_height || Finite(s.h);
        if (!s.Judged() || s.suspect || !Finite(s.h) ||
            !Finite(s.h_estimate)) {
            continue;
        }
        x.push_back(s.h_estimate - s.h);
        y.push_back(s.R2());
    }
    check.stations = static_cast<int64_t>(x.size());
    if (!any_height) {
        check.skipped_because = "the stations have no heights";
        return check;
    }
    if (check.stations < density_min_stations) {
        check.skipped_because =
            "too few good stations have a height estimated from their "
            "neighbours (" +
            std::to_string(check.stations) + ")";
        return check;
    }
    {
        const double centre = Median(x);
        std::vector<double> deviations;
        for (const double v : x) {
            deviations.push_back(std::fabs(v - centre));
        }
        if (!(mad_to_sigma * Median(deviations) > density_min_height_spread)) {
            check.skipped_because =
                "the heights do not vary from station to station";
            return check;
        }
    }
    // Huber's M-estimate of r2 = a + b * (kriged height - height), by
    // iteratively reweighted least squares.
    const size_t n = x.size();
    std::vector<double> weight(n, 1.0);
    double a = 0.0, b = 0.0;
    for (int step = 0; step < density_iterations; ++step) {
        long double sw = 0, sx = 0, sy = 0;
        for (size_t i = 0; i < n; ++i) {
            sw += weight[i];
            sx += weight[i] * x[i];
            sy += weight[i] * y[i];
        }
        const long double mx = sx / sw, my = sy / sw;
        long double sxx = 0, sxy = 0;
        for (size_t i = 0; i < n; ++i) {
            sxx += weight[i] * (x[i] - mx) * (x[i] - mx);
            sxy += weight[i] * (x[i] - mx) * (y[i] - my);
        }
        if (!(sxx > 0)) {
            break;
        }
        b = static_cast<double>(sxy / sxx);
        a = static_cast<double>(my - b * mx);
        std::vector<double> residuals(n);
        for (size_t i = 0; i < n; ++i) {
            residuals[i] = std::fabs(y[i] - a - b * x[i]);
        }
        const double scale = mad_to_sigma * Median(residuals);
        if (!(scale > 0.0)) {
            break;
        }
        const double limit = huber_scales * scale;
        for (size_t i = 0; i < n; ++i) {
            weight[i] = residuals[i] <= limit ? 1.0 : limit / residuals[i];
        }
    }
    // The slope's standard error from the weighted residuals' variance.
    long double sw = 0, sx = 0, rss = 0;
    for (size_t i = 0; i < n; ++i) {
        sw += weight[i];
        sx += weight[i] * x[i];
        const double r = y[i] - a - b * x[i];
        rss += weight[i] * r * r;
    }
    const long double mx = sx / sw;
    long double sxx = 0;
    for (size_t i = 0; i < n; ++i) {
        sxx += weight[i] * (x[i] - mx) * (x[i] - mx);
    }
    const double variance = static_cast<double>(rss / (sw - 2.0L));
    check.done = true;
    check.slope = b;
    check.slope_error = std::sqrt(variance / static_cast<double>(sxx));
    check.density = density + b / slab_gradient;
    check.density_error = check.slope_error / slab_gradient;
    check.differs = std::fabs(check.density - density) >
                    3.0 * check.density_error;
    return check;
}

Diagnosis Diagnose(const TQcStations &stations, const SuspectFindings &findings,
                   const DuplicateFindings &duplicates,
                   const std::vector<std::string> &value_texts,
                   const std::vector<double> &dem,
                   const DiagnosisOptions &options) {
    Diagnosis diagnosis;
    const double median = findings.median;
    const double gradient = HeightGradient(options.density);
    const double dem_error =
        options.dem_tolerance / dem_tolerance_deviations;
    const bool with_dem = options.have_dem && dem.size() == stations.Size();
    const double height_scale = HeightResidualScale(stations);

    // The stations each station shares a position with or lies close to.
    std::vector<std::pair<size_t, size_t>> partners;
    for (const DuplicatePosition &position : duplicates.positions) {
        for (const size_t a : position.stations) {
            for (const size_t b : position.stations) {
                if (a != b) {
                    partners.emplace_back(a, b);
                }
            }
        }
    }
    for (const ClosePair &pair : duplicates.close_pairs) {
        partners.emplace_back(pair.first, pair.second);
        partners.emplace_back(pair.second, pair.first);
    }
    std::sort(partners.begin(), partners.end());


    for (size_t i = 0; i < findings.suspects.size(); ++i) {
        const size_t k = findings.suspects[i];
        const QcStation &s = stations[k];
        StationDiagnosis d;
        d.station = static_cast<uint32_t>(k);
        d.scale = i < findings.suspect_scales.size()
                      ? findings.suspect_scales[i]
                      : findings.scale;
        // The estimate the rule judged it by: without the suspects near it.
        const double estimate =
            s.value + (Finite(s.r2_clean) ? s.r2_clean : s.R2());
        std::vector<Candidate> fits;
        const auto offer = [&](Cause cause, double value, double h,
                               double scale) {
            const double standing =
                std::fabs(estimate - value - median) / scale;
            if (Finite(standing) && standing <= options.fit_scales) {
                fits.push_back({cause, value, h, standing});
            }
        };
        if (Finite(estimate) && d.scale > 0.0) {
            if (s.value != 0.0) {
                offer(Cause::Sign, -s.value, qc_none, d.scale);
            }
            offer(Cause::Decimal, s.value * 10.0, qc_none, d.scale);
            offer(Cause::Decimal, s.value / 10.0, qc_none, d.scale);
            const std::string text =
                i < value_texts.size() && !value_texts[i].empty()
                    ? value_texts[i]
                    : ShortestNumber(s.value);
            for (const double value :
                 SwappedDigitValues(text, options.decimal_separator)) {
                offer(Cause::Digits, value, qc_none, d.scale);
            }
            // A wrong height, against the DEM or, where it is sharp, the
            // neighbours' kriged height; the fit allows for that height's
            // own error.
            double reference = qc_none, reference_error = qc_none;
            if (with_dem && Finite(dem[k]) &&
                std::fabs(s.h - dem[k]) > options.dem_tolerance) {
                reference = dem[k];
                reference_error = dem_error;
            } else if (!with_dem && Finite(s.h_estimate) &&
                       height_scale > 0.0 &&
                       std::fabs(s.h - s.h_estimate) >
                           options.sharp_scales * height_scale) {
                reference = s.h_estimate;
                reference_error = height_scale;
            }
            if (Finite(s.h) && Finite(reference)) {
                const double widened =
                    std::hypot(d.scale, gradient * reference_error);
                offer(Cause::Height, s.value - gradient * (s.h - reference),
                      reference, widened);
            }
            const auto first = std::lower_bound(
                partners.begin(), partners.end(), std::make_pair(k, size_t{0}));
            for (auto p = first; p != partners.end() && p->first == k; ++p) {
                const double other = stations[p->second].value;
                if (std::fabs(other - s.value) > options.threshold * d.scale) {
                    offer(Cause::Duplicate, other, qc_none, d.scale);
                }
            }
        }
        std::sort(fits.begin(), fits.end(),
                  [](const Candidate &a, const Candidate &b) {
                      return a.standing < b.standing;
                  });
        if (fits.empty()) {
            d.cause = Cause::Unexplained;
        } else {
            const Candidate &best = fits.front();
            std::vector<Cause> rivals{best.cause};
            for (const Candidate &c : fits) {
                if (c.standing - best.standing < options.ambiguity_scales &&
                    std::find(rivals.begin(), rivals.end(), c.cause) ==
                        rivals.end()) {
                    rivals.push_back(c.cause);
                }
            }
            if (rivals.size() > 1) {
                d.cause = Cause::Ambiguous;
                for (const Cause c : rivals) {
                    d.fitting += (d.fitting.empty() ? "" : " ") +
                                 std::string(CauseName(c));
                }
            } else {
                d.cause = best.cause;
                d.fix_value = best.value;
                d.fix_h = best.h;
                d.r2_fixed = estimate - best.value;
            }
        }
        diagnosis.stations.push_back(d);
    }

    // Let go as rough ground, and heights far from the DEM's, in file order.
    std::vector<StationDiagnosis> others;
    for (const SuspectFindings::LetGo &let_go : findings.rough_ground) {
        StationDiagnosis d;
        d.station = static_cast<uint32_t>(let_go.station);
        d.cause = Cause::RoughGround;
        d.scale = let_go.local_scale;
        others.push_back(d);
    }
    if (with_dem) {
        for (size_t k = 0; k < stations.Size(); ++k) {
            const QcStation &s = stations[k];
            if (!s.suspect && Finite(s.h) && Finite(dem[k]) &&
                std::fabs(s.h - dem[k]) > options.dem_tolerance) {
                StationDiagnosis d;
                d.station = static_cast<uint32_t>(k);
                d.cause = Cause::HeightOnly;
                d.fix_h = dem[k];
                others.push_back(d);
            }
        }
    }
    std::stable_sort(others.begin(), others.end(),
                     [](const StationDiagnosis &a, const StationDiagnosis &b) {
                         return a.station < b.station;
                     });
    // A station let go as rough ground whose height is off is said once,
    // for its height.
    for (size_t j = 0; j < others.size(); ++j) {
        if (j + 1 < others.size() &&
            others[j].station == others[j + 1].station) {
            continue;
        }
        diagnosis.stations.push_back(others[j]);
    }

    // z calibrated on the good stations.
    std::vector<double> z;
    for (size_t k = 0; k < stations.Size(); ++k) {
        const QcStation &s = stations[k];
        if (s.Judged() && !s.suspect && Finite(s.Z())) {
            z.push_back(std::fabs(s.Z()));
        }
    }
    const double quantile = Quantile(std::move(z), z_calibration_share);
    if (quantile > 0.0) {
        diagnosis.z_calibration = quantile / z_normal_quantile;
    }
    diagnosis.density = CheckDensity(stations, options.density);
    diagnosis.Index();
    return diagnosis;
}

// Why each suspect is wrong and what would fit: the usual blunders of a
// gravity station (a lost sign, a moved decimal point, two digits swapped, a
// wrong height, a repeated station that disagrees) tried as corrections of
// its value, each judged by the residual it would leave; heights against a
// digital elevation model; the calibration of z; and the reduction density
// the residuals prefer.
//
// A station's leave-one-out estimate does not depend on its own value, so a
// corrected value v' leaves the residual e - v' at once, e being the estimate
// the suspect rule judged the station by (without the other suspects near
// it, r2_clean). A correction fits when that residual lies within a few of
// the scales the rule judged the station by.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "qc/Duplicates.h"
#include "qc/QcStation.h"
#include "qc/SuspectRule.h"

// Why a station stands out, as the companion table names it.
enum class Cause : uint8_t {
    None,
    Sign,        // the value with its sign reversed fits
    Decimal,     // the value times or over 10 fits
    Digits,      // two adjacent digits of the value as written, swapped, fit
    Height,      // the height is wrong and the value was reduced with it
    Duplicate,   // a station at its position (or a close pair) disagrees
    Unexplained, // no correction fits
    Ambiguous,   // two or more fit about as well
    HeightOnly,  // not a suspect, but its height is far from the DEM's
    RoughGround, // stood out, let go as rough ground
};

// The name of a cause in the tables: "sign", "decimal", "digits", "height",
// "duplicate", "unexplained", "ambiguous", "height-only", "rough-ground";
// empty for None.
const char *CauseName(Cause cause);

// Every cause a station can be given, in the order the summary counts them.
inline constexpr Cause all_causes[] = {
    Cause::Sign,      Cause::Decimal,     Cause::Digits,
    Cause::Height,    Cause::Duplicate,   Cause::Ambiguous,
    Cause::Unexplained, Cause::HeightOnly, Cause::RoughGround};

// The Bouguer anomaly's change with height, mGal per metre, for a reduction
// with density `density` (g/cm3): the free-air gradient less the slab.
double HeightGradient(double density);
// The Bouguer slab, mGal per metre and g/cm3.
inline constexpr double slab_gradient = 0.04193;
inline constexpr double free_air_gradient = 0.3086;

struct DiagnosisOptions {
    // A correction fits when |residual - median| is within this many of the
    // station's scales.
    double fit_scales = 2.0;
    // A second correction within this many scales of the best makes the
    // station ambiguous.
    double ambiguity_scales = 1.0;
    // The suspect rule's threshold, in robust scales: a station at the same
    // position (or a close pair) disagrees beyond it.
    double threshold = 4.0;
    // The density the survey was reduced with, g/cm3.
    double density = 2.67;
    // With a DEM: a height farther than this from it (metres) is wrong; the
    // DEM's own error (dem_tolerance / 2.5, one standard deviation) widens
    // the fit of a height correction.
    bool have_dem = false;
    double dem_tolerance = 20.0;
    // Without a DEM the neighbours' kriged height stands in for it where it
    // is sharp: the height differs from it by more than this many robust
    // scales of the good stations' height residuals (kriged height less
    // height), whose scale widens the fit as a DEM's error does.
    double sharp_scales = 4.0;
    // The decimal separator of a value as written.
    char decimal_separator = '.';
};

// What was found of one station.
struct StationDiagnosis {
    uint32_t station = 0;
    Cause cause = Cause::None;
    double fix_value = qc_none; // mGal
    double fix_h = qc_none;     // metres, for a wrong height
    double r2_fixed = qc_none;  // the residual with the fix, mGal
    double scale = qc_none;     // the scale it was judged by, mGal
    std::string fitting;        // an ambiguous station's fitting causes
};

// The reduction density the leave-one-out residuals prefer: the slope of r2
// against the height residual (kriged height less height) over the good
// stations, by robust regression.
struct DensityCheck {
    bool done = false;
    std::string skipped_because; // when not done
    int64_t stations = 0;         // the stations regressed
    double slope = qc_none;       // mGal per metre
    double slope_error = qc_none; // its standard error
    double density = qc_none;     // g/cm3 the data prefer
    double density_error = qc_none;
    double used = qc_none; // the density the survey was reduced with
    // The suggested density differs from the one used by more than three
    // standard errors.
    bool differs = false;
};

struct Diagnosis {
    // The stations given a cause: the suspects (worst first), then those
    // let go as rough ground and those whose height is far from the DEM's,
    // in file order.
    std::vector<StationDiagnosis> stations;
    // z / calibration is z_cal: the 95th percentile of the good stations'
    // |z| over 1.96, so that 5 % of them pass |z_cal| = 1.96; NaN without.
    double z_calibration = qc_none;
    DensityCheck density;

    // The diagnosis of station k, or null.
    const StationDiagnosis *Of(size_t k) const;
    int64_t Count(Cause cause) const;
    // Makes Of find the stations (after `stations` changed).
    void Index();

  private:
    std::vector<uint32_t> by_station; // indices into `stations`, by station
};

// Diagnoses the suspects and let-go stations of `findings`. `value_texts`:
// each suspect's value as its source wrote it, in the order of
// findings.suspects (empty texts: the shortest form of the value); `dem`:
// each station's DEM height (empty: no DEM).
Diagnosis Diagnose(const TQcStations &stations, const SuspectFindings &findings,
                   const DuplicateFindings &duplicates,
                   const std::vector<std::string> &value_texts,
                   const std::vector<double> &dem,
                   const DiagnosisOptions &options);

// The values a value written as `text` may have been meant as, with two
// adjacent digits swapped (each pair that differs once), read with
// `decimal_separator`.
std::vector<double> SwappedDigitValues(const std::string &text,
                                       char decimal_separator);

// The robust scale of the good stations' height residuals (kriged height
// less height), metres; NaN without any.
double HeightResidualScale(const TQcStations &stations);

// The robust regression of the density check over `stations` (their r2
// against h_estimate - h), for a survey reduced with `density`.
DensityCheck CheckDensity(const TQcStations &stations, double density);

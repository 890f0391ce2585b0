// What a run's figure shows, prepared once from quality control's records:
// the stations' positions and colours in flat arrays (so that a million
// stations draw without an object each), their drawing order, the few
// stations drawn with marks (suspects, duplicates), the histogram of r2 and
// the figures of the summary.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "estimate/RunParameters.h"
#include "plot/ColourScale.h"
#include "plot/MapView.h"
#include "qc/Diagnosis.h"
#include "qc/Duplicates.h"
#include "qc/QcStation.h"
#include "qc/RunFigures.h"
#include "qc/SurveyHull.h"
#include "qc/SurveyOffsets.h"
#include "qc/SuspectRule.h"

// The run a figure is of: the station file and the parameters the run took.
struct FigureHeader {
    std::string station_file; // the name shown in the title
    RunParameters parameters;
    double suspect_threshold = 0.0; // robust scales
};

// Colours are clipped at this many robust scales of r2 on each side of 0.
inline constexpr double colour_bound_scales = 3.0;

// How a station is drawn on the map.
enum class DotKind : uint8_t {
    Value,   // a dot coloured by r2
    NoValue, // a grey ring: blank (no r2) or skipped, or no r2 to judge
    Hidden,  // not drawn: a coordinate is not a number
};

// Flags of StationMarks.
inline constexpr uint8_t mark_suspect = 1;
inline constexpr uint8_t mark_duplicate = 2; // shares a position, or a pair

// The histogram of r2 over the stations that have one.
struct R2Histogram {
    double low = 0.0, high = 0.0; // range of the bins, mGal
    std::vector<int64_t> counts;  // equal bins over low .. high
    int64_t below = 0, above = 0; // outside the range
    // The survey-wide thresholds median -/+ threshold x scale (NaN: no
    // spread), and the stations beyond each.
    double lower_threshold = qc_none, upper_threshold = qc_none;
    int64_t beyond_lower = 0, beyond_upper = 0;
    double BinWidth() const {
        return counts.empty() ? 0.0 : (high - low) / counts.size();
    }
};

class TFigureModel {
  public:
    // The records are read now; `stations` must outlive the model (names and
    // the tooltip's figures are read from it later). `figures` are the
    // run's, counted from the same records (FiguresOf).
    TFigureModel(FigureHeader header, const RunFigures &figures,
                 const TQcStations &stations, const SuspectFindings &suspects,
                 const DuplicateFindings &duplicates);

    size_t Size() const { return dot_kind.size(); }
    const FigureHeader &Header() const { return header; }
    const TQcStations &Stations() const { return *stations; }
    const RunFigures &Counts() const { return counts; }
    const R2Histogram &Histogram() const { return histogram; }
    const TColourScale &Scale() const { return scale; }
    // The stations' extent (metres), of those with numbers for coordinates.
    const WorldBox &Extent() const { return extent; }

    // Position of station k, metres from Origin(), as floats: exact enough
    // for pixels, half the memory of doubles.
    double OriginX() const { return origin_x; }
    double OriginY() const { return origin_y; }
    const std::vector<float> &OffsetX() const { return offset_x; }
    const std::vector<float> &OffsetY() const { return offset_y; }
    const std::vector<DotKind> &Kind() const { return dot_kind; }
    // Step of TColourScale for each station of kind Value.
    const std::vector<uint8_t> &ColourIndex() const { return colour; }
    const std::vector<uint8_t> &Marks() const { return marks; }
    // Every drawn station once: grey rings first, then dots by |r2|
    // growing in bands of a few colour steps (file order within a band), the
    // clipped ones by |r2| itself, so that the largest residuals lie on top.
    const std::vector<uint32_t> &DrawOrder() const { return order; }
    // The suspects, the most extreme first, and the stations of duplicate
    // positions and close pairs.
    const std::vector<size_t> &Suspects() const { return suspect_list; }
    const std::vector<size_t> &Duplicates() const { return duplicate_list; }

    // Names the suspects' causes on the map; `diagnosis` must outlive the
    // model (null: names only).
    void SetDiagnosis(const Diagnosis *found) { diagnosis = found; }
    // One survey's outline on the map, and for a shifted survey its label
    // ("B2 +2.00 mGal"; empty for the others).
    struct SurveyOutline {
        std::vector<HullPoint> hull;
        std::string label;
    };
    // Outlines each survey of `grouping` on the map and labels the shifted
    // ones with their offset; without surveys, none.
    void SetSurveys(const SurveyGrouping &grouping,
                    const SurveyOffsets &offsets);
    const std::vector<SurveyOutline> &Surveys() const { return outlines; }
    // The label of station k on the map: its name, and its cause when one
    // was found ("LDM005 sign").
    std::string Label(size_t k) const;

    // The station nearest to (x, y), metres, no farther than `within`
    // metres; -1 for none.
    int64_t Nearest(double x, double y, double within) const;

  private:
    const Diagnosis *diagnosis = nullptr;
    std::vector<SurveyOutline> outlines;
    FigureHeader header;
    const TQcStations *stations;
    RunFigures counts;
    R2Histogram histogram;
    TColourScale scale;
    WorldBox extent;
    double origin_x = 0.0, origin_y = 0.0;
    std::vector<float> offset_x, offset_y;
    std::vector<DotKind> dot_kind;
    std::vector<uint8_t> colour;
    std::vector<uint8_t> marks;
    std::vector<uint32_t> order;
    std::vector<size_t> suspect_list;
    std::vector<size_t> duplicate_list;
};

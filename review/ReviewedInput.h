// Review decisions applied to the stations a run reads: a rejected station
// is left out of every pass, a fixed one read with its new value or height,
// the stations of a levelled survey with its offset removed. A decision
// applies to the station of that name at that position (within a
// centimetre); one that meets no station is stale and applies to nothing.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "app/CalcRun.h"
#include "app/RunSettings.h"
#include "app/StationInput.h"
#include "review/ReviewFile.h"

// What the decisions did to the stations of a source (its first pass).
struct ReviewTally {
    int64_t kept = 0; // carried over as they were
    int64_t rejected = 0;
    int64_t fixed = 0;
    int64_t levelled = 0;
};

// The decisions of a review, found by station or survey; remembers which
// were met.
class TReviewDecisions {
  public:
    explicit TReviewDecisions(std::vector<ReviewRow> rows);

    // The decision on the station `name` at (x, y), or null.
    const ReviewRow *ForStation(std::string_view name, double x, double y);
    // The decision on the survey `id`, or null.
    const ReviewRow *ForSurvey(const std::string &id);
    // The decisions no station or survey met, in their order.
    std::vector<ReviewRow> Stale() const;
    const std::vector<ReviewRow> &Rows() const { return rows; }
    // What the decisions did in the first pass of the last run over them.
    ReviewTally &Tally() { return tally; }
    const ReviewTally &Tally() const { return tally; }

  private:
    ReviewTally tally;
    std::vector<ReviewRow> rows;
    std::vector<bool> met;
    std::unordered_multimap<std::string, size_t> by_id;
};


// The survey a station belongs to (empty: none).
using SurveyOf = std::function<std::string(const InputRecord &record)>;
// Meets every line of the first pass once decisions are applied: a rejected
// station with `rejected`, a fixed or levelled one with `changed`.
using ReviewSink = std::function<void(const InputRecord &record, bool rejected,
                                      bool changed)>;

class TReviewedInput : public TStationInput {
  public:
    TReviewedInput(std::unique_ptr<TStationInput> source,
                   std::shared_ptr<TReviewDecisions> decisions,
                   SurveyOf survey_of = {}, ReviewSink sink = {});
    void Rewind() override;
    bool Next(InputRecord &record) override;

  private:
    std::unique_ptr<TStationInput> source;
    std::shared_ptr<TReviewDecisions> decisions;
    SurveyOf survey_of;
    ReviewSink sink;
    int pass = 0;
};

// The survey of a station as the settings find it: from its name when a
// pattern is given (--survey-from-name), else from the source's survey
// field; empty when neither gives one.
SurveyOf SurveyOfRecords(const RunSettings &settings);

// Makes `input` read its stations with the decisions applied: its opener (or
// the station text file it names, read with the settings' separator and
// encoding) wrapped in a TReviewedInput. Without `survey_of`, the surveys
// are found as SurveyOfRecords finds them.
void ApplyReview(RunInput &input, const RunSettings &settings,
                 std::shared_ptr<TReviewDecisions> decisions,
                 SurveyOf survey_of = {}, ReviewSink sink = {});

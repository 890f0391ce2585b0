#include "review/ReviewedInput.h"

#include <cmath>

TReviewDecisions::TReviewDecisions(std::vector<ReviewRow> rows_)
    : rows(std::move(rows_)), met(rows.size(), false) {
    for (size_t k = 0; k < rows.size(); ++k) {
        by_id.emplace(rows[k].id, k);
    }
}

const ReviewRow *TReviewDecisions::ForStation(std::string_view name, double x,
                                              double y) {
    const auto [first, last] = by_id.equal_range(std::string(name));
    for (auto at = first; at != last; ++at) {
        const ReviewRow &row = rows[at->second];
        if (row.scope == ReviewScope::Station &&
            std::hypot(row.x - x, row.y - y) <= review_position_tolerance) {
            met[at->second] = true;
            return &row;
        }
    }
    return nullptr;
}

const ReviewRow *TReviewDecisions::ForSurvey(const std::string &id) {
    const auto [first, last] = by_id.equal_range(id);
    for (auto at = first; at != last; ++at) {
        if (rows[at->second].scope == ReviewScope::Survey) {
            met[at->second] = true;
            return &rows[at->second];
        }
    }
    return nullptr;
}

std::vector<ReviewRow> TReviewDecisions::Stale() const {
    std::vector<ReviewRow> stale;
    for (size_t k = 0; k < rows.size(); ++k) {
        if (!met[k]) {
            stale.push_back(rows[k]);
        }
    }
    return stale;
}

TReviewedInput::TReviewedInput(std::unique_ptr<TStationInput> source_,
                               std::shared_ptr<TReviewDecisions> decisions_,
                               SurveyOf survey_of_, ReviewSink sink_)
    : source(std::move(source_)), decisions(std::move(decisions_)),
      survey_of(std::move(survey_of_)), sink(std::move(sink_)) {}

void TReviewedInput::Rewind() {
    source->Rewind();
    ++pass;
    if (pass == 1) {
        decisions->Tally() = {};
    }
}

bool TReviewedInput::Next(InputRecord &record) {
    const bool first = pass == 1;
    ReviewTally &tally = decisions->Tally();
    while (source->Next(record)) {
        if (!record.is_station) {
            if (first && sink) {
                sink(record, false, false);
            }
            return true;
        }
        Station &station = record.station;
        bool changed = false;
        const ReviewRow *row =
            decisions->ForStation(record.name, station.x, station.y);
        if (row != nullptr && row->decision == Decision::Reject) {
            if (first) {
                ++tally.rejected;
                if (sink) {
                    sink(record, true, false);
                }
            }
            continue;
        }
        if (row != nullptr && row->decision == Decision::Fix) {
            if (std::isfinite(row->value)) {
                station.value = row->value;
            }
            if (std::isfinite(row->h)) {
                station.h = row->h;
                record.has_height = true;
            }
            changed = true;
            if (first) {
                ++tally.fixed;
            }
        }
        if (survey_of) {
            const std::string survey = survey_of(record);
            const ReviewRow *level =
                survey.empty() ? nullptr : decisions->ForSurvey(survey);
            if (level != nullptr && level->decision == Decision::Level) {
                station.value -= level->value;
                if (first) {
                    tally.levelled += changed ? 0 : 1;
                }
                changed = true;
            }
        }
        if (first) {
            tally.kept += changed ? 0 : 1;
            if (sink) {
                sink(record, false, changed);
            }
        }
        return true;
    }
    return false;
}

SurveyOf SurveyOfRecords(const RunSettings &settings) {
    return [namer = settings.qc.survey_namer](const InputRecord &record) {
        if (namer) {
            return std::string(namer->SurveyOf(record.name));
        }
        return record.surveyed ? record.survey : std::string();
    };
}

void ApplyReview(RunInput &input, const RunSettings &settings,
                 std::shared_ptr<TReviewDecisions> decisions,
                 SurveyOf survey_of, ReviewSink sink) {
    InputOpener open = input.open;
    if (!open) {
        open = [path = input.path, separator = settings.decimal_separator,
                encoding = settings.encoding] {
            return std::make_unique<TStationTextInput>(path, separator,
                                                       encoding);
        };
    }
    if (!survey_of) {
        survey_of = SurveyOfRecords(settings);
    }
    input.open = [open = std::move(open), decisions = std::move(decisions),
                  survey_of = std::move(survey_of), sink = std::move(sink)] {
        return std::make_unique<TReviewedInput>(open(), decisions, survey_of,
                                                sink);
    };
}

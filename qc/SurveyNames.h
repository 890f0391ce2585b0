// Which survey each station belongs to, as one survey number per station:
// from a field of its own, or from its name (the first match of a regular
// expression, or the name without its trailing digits).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <regex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "qc/QcStation.h"

// The survey of the stations whose field is empty or whose name gives none.
inline constexpr std::string_view no_survey_name = "(none)";
// The option text that takes a station's name without its trailing digits.
inline constexpr std::string_view survey_from_name_auto = "auto";

// The surveys of a run's stations.
struct SurveyGrouping {
    // Per station, in the stations' order: an index into `names`.
    std::vector<uint32_t> survey;
    // Per survey, UTF-8, in the order of their first station.
    std::vector<std::string> names;
    // Stations whose field was empty or whose name gave no survey: they are
    // in the survey no_survey_name. The first of them (index into the
    // stations), or -1.
    int64_t unnamed = 0;
    int64_t first_unnamed = -1;

    size_t Count() const { return names.size(); }
    // No station got a survey of its own: a pattern that matches no name.
    bool NoneNamed() const {
        return !survey.empty() && unnamed == static_cast<int64_t>(survey.size());
    }
};

// The index of the survey called `name` in `grouping`, if there is one (a
// reference survey the user named, say).
std::optional<uint32_t> FindSurvey(const SurveyGrouping &grouping,
                                   std::string_view name);

// Builds a grouping one station at a time, in the stations' order.
class TSurveyGrouper {
  public:
    // The next station's survey; empty puts it in no_survey_name.
    void Add(std::string_view survey);
    SurveyGrouping Finish();

  private:
    SurveyGrouping grouping;
    std::unordered_map<std::string, uint32_t> index;
};

// How a station's name gives its survey: the first match of a regular
// expression (ECMAScript syntax) anywhere in the name, or the name without
// its trailing ASCII digits (`U7_LN185` gives `U7_LN`).
class TSurveyNamer {
  public:
    // The survey in `name`, a view into it; empty when the pattern matches
    // nothing, or only an empty text.
    std::string_view SurveyOf(std::string_view name) const;

  private:
    friend struct SurveyNamerParse ParseSurveyNamer(const std::string &option);
    std::optional<std::regex> pattern; // none: the trailing digits go
};

// The namer an option text asks for, or why there is none.
struct SurveyNamerParse {
    std::optional<TSurveyNamer> namer;
    // Why the regular expression does not compile, as the library says it;
    // empty when it does.
    std::string error;
};

// survey_from_name_auto takes the name without its trailing digits; any other
// text is a regular expression.
SurveyNamerParse ParseSurveyNamer(const std::string &option);

// The survey of every station of `stations` from its name.
SurveyGrouping GroupByName(const TQcStations &stations,
                           const TSurveyNamer &namer);

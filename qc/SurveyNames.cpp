// Survey numbers from fields and names: a pool of survey names in order of
// first appearance, and the two ways a name gives its survey.
#include "qc/SurveyNames.h"

std::optional<uint32_t> FindSurvey(const SurveyGrouping &grouping,
                                   std::string_view name) {
    for (size_t s = 0; s < grouping.names.size(); ++s) {
        if (grouping.names[s] == name) {
            return static_cast<uint32_t>(s);
        }
    }
    return std::nullopt;
}

void TSurveyGrouper::Add(std::string_view survey) {
    if (survey.empty()) {
        if (grouping.first_unnamed < 0) {
            grouping.first_unnamed = static_cast<int64_t>(grouping.survey.size());
        }
        ++grouping.unnamed;
        survey = no_survey_name;
    }
    const auto [at, added] =
        index.try_emplace(std::string(survey), static_cast<uint32_t>(index.size()));
    if (added) {
        grouping.names.emplace_back(survey);
    }
    grouping.survey.push_back(at->second);
}

SurveyGrouping TSurveyGrouper::Finish() {
    index.clear();
    grouping.survey.shrink_to_fit();
    return std::move(grouping);
}

std::string_view TSurveyNamer::SurveyOf(std::string_view name) const {
    if (!pattern) {
        size_t end = name.size();
        while (end > 0 && name[end - 1] >= '0' && name[end - 1] <= '9') {
            --end;
        }
        return name.substr(0, end);
    }
    std::match_results<std::string_view::const_iterator> match;
    if (!std::regex_search(name.begin(), name.end(), match, *pattern)) {
        return {};
    }
    return name.substr(static_cast<size_t>(match.position(0)),
                       static_cast<size_t>(match.length(0)));
}

SurveyNamerParse ParseSurveyNamer(const std::string &option) {
    SurveyNamerParse parse;
    TSurveyNamer namer;
    if (option != survey_from_name_auto) {
        try {
            namer.pattern.emplace(option, std::regex::ECMAScript);
        } catch (const std::regex_error &error) {
            parse.error = error.what();
            return parse;
        }
    }
    parse.namer = std::move(namer);
    return parse;
}

SurveyGrouping GroupByName(const TQcStations &stations,
                           const TSurveyNamer &namer) {
    TSurveyGrouper grouper;
    for (size_t k = 0; k < stations.Size(); ++k) {
        grouper.Add(namer.SurveyOf(stations.Name(k)));
    }
    return grouper.Finish();
}

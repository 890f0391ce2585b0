// The compact list of a source's stations.
#include "gis/SurveyStations.h"

#include <algorithm>

void TListedStations::Add(const ListedStation &station, std::string_view name,
                          std::string_view survey) {
    stations.push_back(station);
    names.append(name);
    name_end.push_back(names.size());
    if (!surveyed)
        return;
    uint32_t index = 0;
    if (!survey.empty()) {
        const auto [at, added] = survey_index.try_emplace(
            std::string(survey), static_cast<uint32_t>(survey_names.size()));
        if (added)
            survey_names.emplace_back(survey);
        index = at->second;
    }
    survey_of.push_back(index);
}

std::string_view TListedStations::Survey(size_t k) const {
    return k < survey_of.size() ? std::string_view(survey_names[survey_of[k]])
                                : std::string_view();
}

void TListedStations::AddUnread(int64_t row, std::string_view text) {
    unread.push_back({stations.size(), row, std::string(text)});
}

void TListedStations::Reserve(size_t count) {
    stations.reserve(count);
    name_end.reserve(count);
    if (surveyed)
        survey_of.reserve(count);
}

void TListedStations::Trim() {
    constexpr size_t slack_share = 8; // room beyond size / 8 is given back
    if (stations.capacity() - stations.size() > stations.size() / slack_share) {
        stations.shrink_to_fit();
        name_end.shrink_to_fit();
        survey_of.shrink_to_fit();
    }
    if (names.capacity() - names.size() > names.size() / slack_share)
        names.shrink_to_fit();
    unread.shrink_to_fit();
}

std::string_view TListedStations::Name(size_t k) const {
    const uint64_t begin = k == 0 ? 0 : name_end[k - 1];
    return std::string_view(names).substr(begin, name_end[k] - begin);
}

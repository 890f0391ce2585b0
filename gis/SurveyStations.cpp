// The compact list of a source's stations.
#include "gis/SurveyStations.h"

#include <algorithm>

void TListedStations::Add(const ListedStation &station, std::string_view name) {
    stations.push_back(station);
    names.append(name);
    name_end.push_back(names.size());
}

void TListedStations::AddUnread(int64_t row, std::string_view text) {
    unread.push_back({stations.size(), row, std::string(text)});
}

void TListedStations::Reserve(size_t count) {
    stations.reserve(count);
    name_end.reserve(count);
}

void TListedStations::Trim() {
    constexpr size_t slack_share = 8; // room beyond size / 8 is given back
    if (stations.capacity() - stations.size() > stations.size() / slack_share) {
        stations.shrink_to_fit();
        name_end.shrink_to_fit();
    }
    if (names.capacity() - names.size() > names.size() / slack_share)
        names.shrink_to_fit();
    unread.shrink_to_fit();
}

std::string_view TListedStations::Name(size_t k) const {
    const uint64_t begin = k == 0 ? 0 : name_end[k - 1];
    return std::string_view(names).substr(begin, name_end[k] - begin);
}

// The compact station records of quality control.
#include "qc/QcStation.h"

double QcStation::Z() const {
    if (!(sigma > 0.0)) {
        return qc_none;
    }
    return R2() / sigma;
}

void TQcStations::Add(const QcStation &station, std::string_view name) {
    stations.push_back(station);
    names.append(name);
    name_end.push_back(names.size());
}

void TQcStations::Reserve(size_t count) {
    stations.reserve(count);
    name_end.reserve(count);
}

std::string_view TQcStations::Name(size_t k) const {
    const uint64_t begin = k == 0 ? 0 : name_end[k - 1];
    return std::string_view(names).substr(begin, name_end[k] - begin);
}

void TQcStations::Clear() {
    stations.clear();
    names.clear();
    name_end.clear();
}

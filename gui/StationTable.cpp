// The tables of stations and a station's description.
#include "gui/StationTable.h"

#include <algorithm>
#include <cmath>

#include "qc/CompanionTable.h"

namespace {

const char *const headers[] = {"Station", "|r2|", "r2", "z",     "Cause",
                               "Proposed fix", "\u03c3", "r1", "Value",
                               "x",       "y",    "Status"};
// Decimals shown per column (mGal to the microgal's tenth, metres to cm).
constexpr int value_decimals = 3;
constexpr int z_decimals = 2;
constexpr int position_decimals = 2;

QString Shown(double value, int decimals) {
    return std::isfinite(value) ? QString::number(value, 'f', decimals)
                                : QString();
}

QString StatusOf(const QcStation &s) {
    QString text = StatusText(s.status);
    if (s.suspect) {
        text += ", suspect";
    }
    return text;
}

} // namespace

QString StationDescription(const TQcStations &stations, size_t k) {
    const QcStation &s = stations[k];
    const auto line = [](const char *what, double value, int decimals,
                         const char *unit) {
        return QString("\n%1 %2%3")
            .arg(what,
                 std::isfinite(value) ? QString::number(value, 'f', decimals)
                                      : QString("none"),
                 std::isfinite(value) ? unit : "");
    };
    return QString::fromUtf8(stations.Name(k)) +
           line("value", s.value, value_decimals, " mGal") +
           line("r1", s.R1(), value_decimals, " mGal") +
           line("r2", s.R2(), value_decimals, " mGal") +
           line("\u03c3", s.sigma, value_decimals, " mGal") +
           line("z", s.Z(), z_decimals, "") + "\nstatus " + StatusOf(s);
}

TStationTableModel::TStationTableModel(const TQcStations &stations_,
                                       std::vector<size_t> rows_,
                                       QObject *parent,
                                       const Diagnosis *diagnosis_)
    : QAbstractTableModel(parent), stations(stations_), diagnosis(diagnosis_),
      rows(std::move(rows_)) {
    sort(AbsR2, Qt::DescendingOrder);
}

int TStationTableModel::rowCount(const QModelIndex &parent) const {
    return parent.isValid() ? 0 : static_cast<int>(rows.size());
}

int TStationTableModel::columnCount(const QModelIndex &parent) const {
    return parent.isValid() ? 0 : Count;
}

double TStationTableModel::Number(size_t k, int column) const {
    const QcStation &s = stations[k];
    switch (column) {
    case AbsR2:
        return std::fabs(s.R2());
    case R2:
        return s.R2();
    case Z:
        return s.Z();
    case Sigma:
        return s.sigma;
    case R1:
        return s.R1();
    case Value:
        return s.value;
    case X:
        return s.x;
    case Y:
        return s.y;
    case Fix: {
        const StationDiagnosis *found = Found(k);
        return found != nullptr ? found->fix_value : qc_none;
    }
    default:
        return qc_none;
    }
}

QVariant TStationTableModel::data(const QModelIndex &index, int role) const {
    if (!index.isValid() || index.row() >= rowCount()) {
        return {};
    }
    const size_t k = rows[static_cast<size_t>(index.row())];
    const int column = index.column();
    if (role == Qt::TextAlignmentRole) {
        return column == Name || column == Status || column == Cause
                   ? QVariant(Qt::AlignLeft | Qt::AlignVCenter)
                   : QVariant(Qt::AlignRight | Qt::AlignVCenter);
    }
    if (role != Qt::DisplayRole) {
        return {};
    }
    switch (column) {
    case Name:
        return QString::fromUtf8(stations.Name(k));
    case Status:
        return StatusOf(stations[k]);
    case Cause: {
        const StationDiagnosis *found = Found(k);
        if (found == nullptr) {
            return QString();
        }
        QString text = CauseName(found->cause);
        if (!found->fitting.empty()) {
            text += QString(" (%1)").arg(QString::fromStdString(found->fitting));
        }
        return text;
    }
    case Fix: {
        const StationDiagnosis *found = Found(k);
        if (found == nullptr) {
            return QString();
        }
        QString text = Shown(found->fix_value, value_decimals);
        if (std::isfinite(found->fix_h)) {
            text += QString(text.isEmpty() ? "h %1" : ", h %1")
                        .arg(found->fix_h, 0, 'f', 1);
        }
        return text;
    }
    case Z:
        return Shown(Number(k, column), z_decimals);
    case X:
    case Y:
        return Shown(Number(k, column), position_decimals);
    default:
        return Shown(Number(k, column), value_decimals);
    }
}

QVariant TStationTableModel::headerData(int section,
                                        Qt::Orientation orientation,
                                        int role) const {
    if (role == Qt::DisplayRole && orientation == Qt::Horizontal &&
        section >= 0 && section < Count) {
        return QString(headers[section]);
    }
    return QAbstractTableModel::headerData(section, orientation, role);
}

void TStationTableModel::sort(int column, Qt::SortOrder order) {
    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    // The rows the views hold on to (the current one, the selection) follow
    // their stations to their new places.
    const QModelIndexList held = persistentIndexList();
    std::vector<size_t> held_stations;
    for (const QModelIndex &index : held) {
        held_stations.push_back(rows[static_cast<size_t>(index.row())]);
    }
    const bool descending = order == Qt::DescendingOrder;
    if (column == Name || column == Status || column == Cause) {
        const auto text = [&](size_t k) {
            if (column == Name) {
                return stations.Name(k);
            }
            if (column == Status) {
                return std::string_view(StatusText(stations[k].status));
            }
            const StationDiagnosis *found = Found(k);
            return std::string_view(found != nullptr ? CauseName(found->cause)
                                                     : "");
        };
        std::stable_sort(rows.begin(), rows.end(), [&](size_t a, size_t b) {
            const auto ta = text(a);
            const auto tb = text(b);
            return descending ? tb < ta : ta < tb;
        });
    } else {
        // Keys computed once: a million rows sort in a fraction of a second.
        std::vector<double> key(rows.size());
        std::vector<size_t> place(rows.size());
        for (size_t r = 0; r < rows.size(); ++r) {
            key[r] = Number(rows[r], column);
            place[r] = r;
        }
        std::stable_sort(place.begin(), place.end(), [&](size_t a, size_t b) {
            const bool na = !std::isfinite(key[a]);
            const bool nb = !std::isfinite(key[b]);
            if (na || nb) {
                return !na && nb; // numbers before the rows without one
            }
            return descending ? key[b] < key[a] : key[a] < key[b];
        });
        std::vector<size_t> sorted(rows.size());
        for (size_t r = 0; r < rows.size(); ++r) {
            sorted[r] = rows[place[r]];
        }
        rows.swap(sorted);
    }
    row_of.assign(stations.Size(), -1);
    for (size_t r = 0; r < rows.size(); ++r) {
        row_of[rows[r]] = static_cast<int32_t>(r);
    }
    QModelIndexList moved;
    for (qsizetype j = 0; j < held.size(); ++j) {
        moved.append(index(row_of[held_stations[static_cast<size_t>(j)]],
                           held[j].column()));
    }
    changePersistentIndexList(held, moved);
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

const StationDiagnosis *TStationTableModel::Found(size_t station) const {
    return diagnosis != nullptr ? diagnosis->Of(station) : nullptr;
}

int TStationTableModel::RowOf(size_t station) const {
    return station < row_of.size() ? row_of[station] : -1;
}

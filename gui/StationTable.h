// The results window's tables: stations of a run as rows (all of them, or
// the suspects), sortable by any column, |r2| first, without a copy of the
// stations, with the review's decision on each; and the text that describes
// one station.
#pragma once

#include <cstdint>
#include <vector>

#include <QAbstractTableModel>
#include <QString>

#include "qc/Diagnosis.h"
#include "qc/QcStation.h"
#include "review/ReviewFile.h"

class TReviewBook;

// How a station's standing changed since the run before a Recalculate.
enum class StationChange : uint8_t {
    None,
    New,     // a suspect now, not before
    Cleared, // a suspect before, not now
    LeftOut, // rejected: left out of the run
};

// The text of a change in the tables ("new suspect", "cleared", "left
// out"); empty for None.
const char *ChangeText(StationChange change);
// A decision as the tables show it: "keep", "reject", "fix 3.800",
// "fix h 352.0".
QString DecisionText(const ReviewRow &row);

// A station's name, value, r1, r2, sigma, z and status, a line each.
QString StationDescription(const TQcStations &stations, size_t k);

class TStationTableModel : public QAbstractTableModel {
    Q_OBJECT

  public:
    enum Column {
        Name,
        Decision, // the review's decision on the station
        Note,     // the note that goes with the decision
        Change,   // since the run before a Recalculate
        Cause,    // why it stands out (qc/Diagnosis.h)
        Fix,      // the value (and height) that would fit
        AbsR2,
        R2,
        Z,
        Sigma,
        R1,
        Value,
        X,
        Y,
        Status,
        Count
    };

    // Rows for the stations `rows` (indices into `stations`, which must
    // outlive the model), sorted by |r2|, the largest first; the causes and
    // fixes from `diagnosis` (null: none; it must outlive the model too).
    TStationTableModel(const TQcStations &stations, std::vector<size_t> rows,
                       QObject *parent = nullptr,
                       const Diagnosis *diagnosis = nullptr);

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role) const override;
    // Sorts the rows by a column; stations without a number go last either
    // way, equal ones keep their order.
    void sort(int column, Qt::SortOrder order) override;

    // The station of a row, and the row of a station (-1: not in the table).
    size_t StationAt(int row) const { return rows[static_cast<size_t>(row)]; }
    int RowOf(size_t station) const;
    // The stations shown, in the rows' order.
    const std::vector<size_t> &Rows() const { return rows; }

    // The decisions and changes shown (null: none); both must outlive the
    // model. `changes` holds one entry per station, or none.
    void SetReview(const TReviewBook *book,
                   const std::vector<StationChange> *changes);
    // Station k's decision changed: its row is drawn again.
    void StationChanged(size_t k);
    // Adds a row for station k at the end, unless it has one.
    void AddStation(size_t k);

  private:
    double Number(size_t station, int column) const;

    const StationDiagnosis *Found(size_t station) const;

    const TQcStations &stations;
    QString Text(size_t station, int column) const;

    const Diagnosis *diagnosis;
    const TReviewBook *book = nullptr;
    const std::vector<StationChange> *changes = nullptr;
    std::vector<size_t> rows;
    std::vector<int32_t> row_of; // by station; -1 for stations not shown
};

// The results window's tables: stations of a run as rows (all of them, or
// the suspects), sortable by any column, |r2| first, without a copy of the
// stations; and the text that describes one station.
#pragma once

#include <cstdint>
#include <vector>

#include <QAbstractTableModel>
#include <QString>

#include "qc/Diagnosis.h"
#include "qc/QcStation.h"

// A station's name, value, r1, r2, sigma, z and status, a line each.
QString StationDescription(const TQcStations &stations, size_t k);

class TStationTableModel : public QAbstractTableModel {
    Q_OBJECT

  public:
    enum Column {
        Name,
        AbsR2,
        R2,
        Z,
        Cause, // why it stands out (qc/Diagnosis.h)
        Fix,   // the value (and height) that would fit
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

  private:
    double Number(size_t station, int column) const;

    const StationDiagnosis *Found(size_t station) const;

    const TQcStations &stations;
    const Diagnosis *diagnosis;
    std::vector<size_t> rows;
    std::vector<int32_t> row_of; // by station; -1 for stations not shown
};

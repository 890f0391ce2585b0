// Small surveys built in code for the drawing's tests: stations with a given
// r2 and status, and the findings quality control would have left.
#pragma once

#include <string>
#include <vector>

#include "plot/FigureModel.h"
#include "qc/Duplicates.h"
#include "qc/QcStation.h"
#include "qc/SuspectRule.h"

struct FixtureStation {
    double x, y; // metres
    double r2;   // mGal; NaN: no leave-one-out estimate
    QcStatus status = QcStatus::Ok;
    bool suspect = false;
    std::string name = {}; // empty: "S" and its index
};

// The records and findings of a run over `stations`, with a robust scale of
// `scale` mGal around a median of 0.
struct FixtureRun {
    TQcStations stations;
    SuspectFindings suspects;
    DuplicateFindings duplicates;

    explicit FixtureRun(const std::vector<FixtureStation> &list,
                        double scale = 0.1) {
        for (size_t k = 0; k < list.size(); ++k) {
            const FixtureStation &f = list[k];
            QcStation s;
            s.x = f.x;
            s.y = f.y;
            s.value = 10.0;
            s.estimate_without = 10.0 + f.r2;
            s.estimate_all = 10.0 + 0.5 * f.r2;
            s.sigma = 0.2;
            s.status = f.status;
            s.suspect = f.suspect;
            stations.Add(s, f.name.empty() ? "S" + std::to_string(k) : f.name);
            if (f.suspect) {
                suspects.suspects.push_back(k);
            }
        }
        suspects.median = 0.0;
        suspects.scale = scale;
    }

    TFigureModel Model(double threshold = 4.0) const {
        FigureHeader header;
        header.station_file = "fixture.dat";
        header.suspect_threshold = threshold;
        return TFigureModel(header, FiguresOf(stations, suspects), stations,
                            suspects, duplicates);
    }
};

// A lattice of `columns` x `rows` stations `spacing` metres apart with small
// residuals alternating around 0.
inline std::vector<FixtureStation> Lattice(int columns, int rows,
                                           double spacing) {
    std::vector<FixtureStation> list;
    for (int j = 0; j < rows; ++j) {
        for (int i = 0; i < columns; ++i) {
            list.push_back({500000.0 + i * spacing, 5500000.0 + j * spacing,
                            ((i + j) % 2 == 0 ? 0.02 : -0.02)});
        }
    }
    return list;
}

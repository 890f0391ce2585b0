// Test helper: brings a TKrigging through the steps that precede the node loop
// (copy, validation, scan, cell index), so a test can call one later step
// alone.
#pragma once

#include <cmath>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "kriging/Krigging.h"
#include "platform/Dialogs.h"

struct KrigParams {
    int32_t log_z = 0;
    int32_t search_mode = 0;
    int32_t max_points = 16;
    double search_radius = 0.0;
    int32_t drift_order = 0;
    double nugget = 0.0;
    double sill = 0.0;
    double range = 0.0;
    double cell_x = 200.0;
    double cell_y = 200.0;
    double aniso_angle = 0.0;
    double aniso_ratio = 1.0;
};

struct Samples {
    std::vector<double> x, y, z;
    void Add(double px, double py, double pz) {
        x.push_back(px);
        y.push_back(py);
        z.push_back(pz);
    }
    int32_t Count() const { return static_cast<int32_t>(x.size()); }
};

// Runs MakeGrid with the samples and parameters.
inline bool RunMakeGrid(TKrigging &k, const Samples &s, const KrigParams &p) {
    return k.MakeGrid(s.x.data(), s.y.data(), s.z.data(), s.Count(), p.log_z,
                      p.search_mode, p.max_points, p.search_radius,
                      p.drift_order, p.nugget, p.sill, p.range, p.cell_x,
                      p.cell_y, p.aniso_angle, p.aniso_ratio);
}

// Stores samples and parameters as MakeGrid does and runs validation, scan and
// the cell index; returns false when one of them refuses. cos_angle and
// sin_angle are set from the angle (degrees) as the node loop would.
inline bool PrepareSteps(TKrigging &k, const Samples &s, const KrigParams &p) {
    const int32_t n = s.Count();
    k.sample_x = std::make_unique<double[]>(n);
    k.sample_y = std::make_unique<double[]>(n);
    k.sample_z = std::make_unique<double[]>(n);
    for (int32_t i = 0; i < n; ++i) {
        k.sample_x[i] = s.x[i];
        k.sample_y[i] = s.y[i];
        k.sample_z[i] = s.z[i];
    }
    k.sample_count = n;
    k.log_z = p.log_z;
    k.search_mode = p.search_mode;
    k.max_points = p.max_points;
    k.search_radius = p.search_radius;
    k.drift_order = p.drift_order;
    k.nugget = p.nugget;
    k.sill = p.sill;
    k.range = p.range;
    k.cell_x = k.dx = p.cell_x;
    k.cell_y = k.dy = p.cell_y;
    k.aniso_angle = p.aniso_angle;
    k.aniso_ratio = p.aniso_ratio;
    if (!k.CheckParams()) {
        return false;
    }
    k.ScanData();
    if (k.BuildCellIndex() != 0) {
        return false;
    }
    const double radians = p.aniso_angle * 0.017453292;
    k.cos_angle = std::cos(radians);
    k.sin_angle = std::sin(radians);
    return true;
}

// Captures ShowMessage texts for the life of the object.
class MessageCapture {
  public:
    MessageCapture() {
        previous_ = SetMessageHandler(
            [this](const std::string &t) { shown.push_back(t); });
    }
    ~MessageCapture() { SetMessageHandler(previous_); }
    std::vector<std::string> shown;

  private:
    MessageHandler previous_;
};

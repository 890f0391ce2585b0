// Fuzzes the gridder on random samples and parameters: no crash, no read
// outside the grid, every node an estimate within the sample range or blank, a
// floating-point fault only as its error, and the station path reading exactly
// what the whole grid reads.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <vector>

#include "kriging/Krigging.h"
#include "platform/Dialogs.h"
#include "platform/FloatChecks.h"

namespace {

class Input {
  public:
    Input(const uint8_t *data, size_t size) : data(data), size(size) {}
    template <typename T> T Take() {
        T value{};
        if (offset + sizeof(T) <= size) {
            std::memcpy(&value, data + offset, sizeof(T));
            offset += sizeof(T);
        }
        return value;
    }
    // A coordinate or value on a modest scale, or now and then a raw double.
    double Number(double scale) {
        const uint8_t kind = Take<uint8_t>();
        if (kind < 8) {
            return Take<double>();
        }
        return Take<int16_t>() * scale / 256.0;
    }

  private:
    const uint8_t *data;
    size_t size;
    size_t offset = 0;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static const bool quiet = [] {
        SetMessageHandler([](const std::string &) {});
        return true;
    }();
    (void)quiet;
    Input in(data, size);
    const int32_t count = in.Take<uint8_t>() % 64;
    const int32_t log_z = in.Take<uint8_t>() % 3 == 0 ? 1 : 0;
    const int32_t search_mode = in.Take<uint8_t>() % 2;
    const int32_t max_points = in.Take<int8_t>();
    const double search_radius = in.Number(2000.0);
    const int32_t drift_order = in.Take<int8_t>() % 5;
    const bool fit = in.Take<uint8_t>() % 4 != 0;
    const double nugget = fit ? 0.0 : in.Number(4.0);
    const double sill = fit ? 0.0 : in.Number(16.0);
    const double range = fit ? 0.0 : in.Number(2000.0);
    const double cell_x = 20.0 + (in.Take<uint8_t>() % 200) * 5.0;
    const double cell_y = in.Take<uint8_t>() % 8 == 0 ? cell_x * 2.0 : cell_x;
    const double angle = in.Number(90.0);
    const double ratio = in.Take<uint8_t>() % 4 == 0 ? in.Number(4.0) : 1.0;
    std::vector<double> xs(count), ys(count), zs(count);
    for (int32_t k = 0; k < count; ++k) {
        xs[k] = in.Number(20000.0);
        ys[k] = in.Number(20000.0);
        zs[k] = in.Number(50.0);
    }

    // Keep each run small enough to explore many per second: grids that the
    // gridder accepts stay within 64 nodes a side and windows within 24 cells.
    // Larger accepted grids only cost time; refused ones (over 1024) still run.
    double x_lo = 1e300, x_hi = -1e300, y_lo = 1e300, y_hi = -1e300;
    for (int32_t k = 0; k < count; ++k) {
        x_lo = std::fmin(x_lo, xs[k]);
        x_hi = std::fmax(x_hi, xs[k]);
        y_lo = std::fmin(y_lo, ys[k]);
        y_hi = std::fmax(y_hi, ys[k]);
    }
    const double cols = (x_hi - x_lo) / cell_x + 3.0;
    const double rows = (y_hi - y_lo) / cell_y + 1.0;
    const auto costly = [](double nodes) {
        return nodes > 64.0 && nodes <= 1100.0;
    };
    if (costly(cols) || costly(rows) ||
        std::fabs(search_radius) > 24.0 * cell_x) {
        return 0;
    }

    auto gridder = std::make_unique<TKrigging>();
    bool made = false;
    try {
        made = gridder->MakeGrid(xs.data(), ys.data(), zs.data(), count, log_z,
                                 search_mode, max_points, search_radius,
                                 drift_order, nugget, sill, range, cell_x,
                                 cell_y, angle, ratio);
    } catch (const FloatingPointError &) {
        return 0;
    }
    if (!made) {
        return 0;
    }
    for (int32_t c = 0; c < gridder->n_cols; ++c) {
        for (int32_t r = 0; r < gridder->n_rows; ++r) {
            const double v = gridder->grid[c][r];
            if (v == gridder->blank) {
                continue;
            }
            if (!(v >= gridder->z_min && v <= gridder->z_max)) {
                std::abort();
            }
        }
    }
    // The station path reads the same value as the whole grid, bit for bit,
    // and cannot fail where the whole grid did not.
    auto station = std::make_unique<TKrigging>();
    if (!station->PrepareGrid(xs.data(), ys.data(), zs.data(), count, log_z,
                              search_mode, max_points, search_radius,
                              drift_order, nugget, sill, range, cell_x, cell_y,
                              angle, ratio)) {
        std::abort();
    }
    // A lookup that faults (a point that is not a number) must fault on both.
    const auto bits = [](auto read) -> std::optional<uint64_t> {
        try {
            const double value = read();
            uint64_t out;
            std::memcpy(&out, &value, sizeof out);
            return out;
        } catch (const FloatingPointError &) {
            return std::nullopt;
        }
    };
    for (int k = 0; k < 4; ++k) {
        const double x = in.Number(20000.0), y = in.Number(20000.0);
        const auto whole = bits([&] { return gridder->ValueAt(x, y, false); });
        const auto read = bits([&] { return station->ValueAtStation(x, y); });
        if (whole != read) {
            std::abort();
        }
        (void)bits([&] { return gridder->ValueAt(x, y, true); });
    }
    return 0;
}

// The cell a lookup reads and the bilinear sum of its corners.
#include "kriging/GridLookup.h"

namespace {

constexpr double blank_limit = 1e38; // a value not below this is blank
constexpr long double scale_factor = 3600.0L;

bool IsBlank(double v) { return !(v < blank_limit); }

} // namespace

CellWeights LocateCell(const GridShape &shape, double x, double y,
                       bool scaled) {
    const double x_min = shape.x_min, y_min = shape.y_min;
    const double dx = shape.cell_x, dy = shape.cell_y;
    CellWeights cell;
    cell.one_row = shape.n_rows < 2;
    const bool one_row = cell.one_row;
    long double px = x, py = y, x0, x1, y0 = 0.0L, y1 = 1.0L;
    int32_t c, r = 0;
    if (!scaled) {
        c = BoundedFloor((static_cast<long double>(x) - x_min) / dx, 0,
                         shape.n_cols - 2);
        x0 = x_min + static_cast<long double>(c) * dx;
        x1 = x_min + static_cast<long double>(c + 1) * dx;
        if (!one_row) {
            r = BoundedFloor((static_cast<long double>(y) - y_min) / dy, 0,
                             shape.n_rows - 2);
            y0 = y_min + static_cast<long double>(r) * dy;
            y1 = y_min + static_cast<long double>(r + 1) * dy;
        }
    } else {
        // The cell is chosen on coordinates times 3600; sides and point come
        // back through a multiplication by 1/3600 held in long double.
        const double X = x * scale_factor, Y = y * scale_factor;
        const double X0 = x_min * scale_factor, Y0 = y_min * scale_factor;
        const double DX = dx * scale_factor, DY = dy * scale_factor;
        const long double back = 1.0L / scale_factor;
        c = BoundedFloor((static_cast<long double>(X) - X0) / DX, 0,
                         shape.n_cols - 2);
        x0 =
            static_cast<double>((X0 + static_cast<long double>(c) * DX) * back);
        x1 = static_cast<double>((X0 + static_cast<long double>(c + 1) * DX) *
                                 back);
        px = static_cast<double>(X * back);
        if (!one_row) {
            r = BoundedFloor((static_cast<long double>(Y) - Y0) / DY, 0,
                             shape.n_rows - 2);
            y0 = static_cast<double>((Y0 + static_cast<long double>(r) * DY) *
                                     back);
            y1 = static_cast<double>(
                (Y0 + static_cast<long double>(r + 1) * DY) * back);
            py = static_cast<double>(Y * back);
        }
    }
    x0 = static_cast<double>(x0);
    x1 = static_cast<double>(x1);
    y0 = static_cast<double>(y0);
    y1 = static_cast<double>(y1);
    const double u = (px - x0) / (x1 - x0);
    const double v = one_row ? 0.0 : static_cast<double>((py - y0) / (y1 - y0));

    cell.c = c;
    cell.r = r;
    cell.w[0] = (1.0L - u) * (1.0L - v);
    cell.w[1] = u * (1.0L - v);
    cell.w[2] = static_cast<long double>(u) * v;
    cell.w[3] = (1.0L - u) * v;
    return cell;
}

double Interpolate(const CellWeights &cell, const double *q, double blank) {
    long double sum = 0.0L;
    for (int k = 0; k < 4; ++k) {
        if (cell.w[k] == 0.0L) {
            continue;
        }
        if (IsBlank(q[k])) {
            return blank;
        }
        sum += cell.w[k] * q[k];
    }
    return static_cast<double>(sum);
}

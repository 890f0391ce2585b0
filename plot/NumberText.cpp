// Numbers written with a point and thousands commas, whatever the locale.
#include "plot/NumberText.h"

#include <cmath>

QString FixedNumber(double value, int decimals) {
    if (std::fabs(value) < 0.5 * std::pow(10.0, -decimals)) {
        value = 0.0;
    }
    return QString::number(value, 'f', decimals);
}

QString FixedOrEmpty(double value, int decimals) {
    return std::isfinite(value) ? FixedNumber(value, decimals) : QString();
}

QString GroupedNumber(int64_t value) {
    QString digits = QString::number(value < 0 ? -value : value);
    for (auto at = digits.size() - 3; at > 0; at -= 3) {
        digits.insert(at, ',');
    }
    return value < 0 ? "-" + digits : digits;
}

QString SignedNumber(double value, int decimals) {
    return (value > 0.0   ? "+"
            : value < 0.0 ? "\u2212"
                          : "") +
           FixedNumber(std::fabs(value), decimals);
}

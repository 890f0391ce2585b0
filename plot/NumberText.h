// Numbers as the figure, the report and the window write them: always with a
// point as the decimal separator and commas between thousands, whatever the
// user's locale (QString::number never follows it).
#pragma once

#include <cstdint>

#include <QString>

// Decimals shown of a station's numbers: mGal to a tenth of a microgal's
// hundred (0.001 mGal), metres to the centimetre, z to a hundredth.
inline constexpr int value_decimals = 3;
inline constexpr int z_decimals = 2;
inline constexpr int position_decimals = 2;

// `value` with `decimals` decimals; a value that rounds to 0 reads "0", never
// "-0".
QString FixedNumber(double value, int decimals);

// `value` with `decimals` decimals, or an empty text when it is not a number.
QString FixedOrEmpty(double value, int decimals);

// A whole number with commas between groups of three: 1,000,000.
QString GroupedNumber(int64_t value);

// `value` with its sign written out: "+0.12", "\u22120.12" (a minus sign, not
// a hyphen), "0" for zero.
QString SignedNumber(double value, int decimals);

// The user's decimal separator and locale-proof text-to-number conversion.
#include "platform/Locale.h"

#include <atomic>
#include <cfenv>
#include <cfloat>
#include <cmath>
#include <cstdlib>
#include <langinfo.h>
#include <locale.h>

namespace {

constexpr char no_override = '\0';
std::atomic<char> separator_override{no_override};

// Reads LC_NUMERIC from the environment into a private locale object, so the
// process's global locale is neither consulted nor changed. A separator of more
// than one byte cannot be represented in our 8-bit texts; it falls back to a
// point.
char EnvironmentSeparator() {
    locale_t user =
        newlocale(LC_NUMERIC_MASK, "", static_cast<locale_t>(nullptr));
    if (user == static_cast<locale_t>(nullptr))
        return '.';
    const char *radix = nl_langinfo_l(RADIXCHAR, user);
    const char separator =
        (radix != nullptr && radix[0] != '\0' && radix[1] == '\0') ? radix[0]
                                                                   : '.';
    freelocale(user);
    return separator;
}

locale_t ClassicLocale() {
    static const locale_t classic =
        newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
    return classic;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Significant digits that fit a 64-bit integer exactly (10^19 - 1 < 2^64).
constexpr int max_fast_digits = 19;
// 10^k is exact in the 64-bit mantissa of long double for k <= 27 (5^27 <
// 2^64).
constexpr int max_exact_power = 27;
constexpr long double exact_powers[max_exact_power + 1] = {
    1e0L,  1e1L,  1e2L,  1e3L,  1e4L,  1e5L,  1e6L,  1e7L,  1e8L,  1e9L,
    1e10L, 1e11L, 1e12L, 1e13L, 1e14L, 1e15L, 1e16L, 1e17L, 1e18L, 1e19L,
    1e20L, 1e21L, 1e22L, 1e23L, 1e24L, 1e25L, 1e26L, 1e27L};
// Exponent digits beyond this many go to the slow path (no int overflow).
constexpr size_t max_fast_exponent_digits = 6;

// The pieces of a decimal number as written, after the syntax check.
struct DecimalText {
    bool negative = false;
    std::string_view int_digits, frac_digits, exp_digits;
    bool exp_negative = false;
};

// Splits text by the grammar of TryStrToFloat; false when the syntax is wrong.
bool SplitDecimal(std::string_view text, char separator, DecimalText &parts) {
    size_t i = 0;
    const size_t n = text.size();
    while (i < n && text[i] == ' ')
        ++i;
    if (i < n && (text[i] == '+' || text[i] == '-')) {
        parts.negative = text[i] == '-';
        ++i;
    }
    size_t start = i;
    while (i < n && IsDigit(text[i]))
        ++i;
    parts.int_digits = text.substr(start, i - start);
    bool separator_seen = false;
    if (i < n && text[i] == separator) {
        separator_seen = true;
        start = ++i;
        while (i < n && IsDigit(text[i]))
            ++i;
        parts.frac_digits = text.substr(start, i - start);
    }
    if (i < n && (text[i] == 'E' || text[i] == 'e')) {
        ++i;
        if (i < n && (text[i] == '+' || text[i] == '-')) {
            parts.exp_negative = text[i] == '-';
            ++i;
        }
        start = i;
        while (i < n && IsDigit(text[i]))
            ++i;
        parts.exp_digits = text.substr(start, i - start);
    }
    while (i < n && text[i] == ' ')
        ++i;
    // Something must follow the sign: empty text, blanks or a lone sign fail,
    // and so does a lone exponent mark, which reads as if it were absent.
    const bool has_mantissa = !parts.int_digits.empty() || separator_seen;
    return i == n && (has_mantissa || !parts.exp_digits.empty());
}

// Rounds an extended value to double; false when it lies beyond double's range.
// Values from half an ulp above DBL_MAX on round to infinity, so they fail here
// before the conversion could raise the overflow flag.
bool StoreAsDouble(long double extended, double &value) {
    static const long double overflow_limit =
        static_cast<long double>(DBL_MAX) + std::ldexp(1.0L, 970);
    if (!(std::fabs(extended) < overflow_limit))
        return false;
    value = static_cast<double>(extended);
    return true;
}

// Exact decimal to extended via the C library, on a C-locale copy of the text.
// The library may raise the overflow flag for huge exponents; the caller's
// flags are restored, since a failed conversion is reported by result.
bool SlowConvert(const DecimalText &parts, double &value) {
    std::string copy;
    copy.reserve(parts.int_digits.size() + parts.frac_digits.size() +
                 parts.exp_digits.size() + 5);
    if (parts.negative)
        copy += '-';
    copy += parts.int_digits.empty() ? std::string_view("0") : parts.int_digits;
    if (!parts.frac_digits.empty()) {
        copy += '.';
        copy += parts.frac_digits;
    }
    if (!parts.exp_digits.empty()) {
        copy += 'e';
        copy += parts.exp_negative ? '-' : '+';
        copy += parts.exp_digits;
    }
    fexcept_t saved;
    fegetexceptflag(&saved, FE_ALL_EXCEPT);
    const long double extended =
        strtold_l(copy.c_str(), nullptr, ClassicLocale());
    fesetexceptflag(&saved, FE_ALL_EXCEPT);
    return StoreAsDouble(extended, value);
}

// The fast path: at most 19 significant digits and a small decimal exponent.
// m and 10^k are both exact long doubles, so one multiplication or division,
// correctly rounded, gives the same long double as the C library's conversion.
// Returns false when the number needs the slow path.
bool FastConvert(const DecimalText &parts, double &value) {
    if (parts.exp_digits.size() > max_fast_exponent_digits)
        return false;
    uint64_t mantissa = 0;
    int digits = 0;
    int scale = 0; // power of ten the mantissa must be multiplied by
    auto take = [&](char c) {
        if (digits == 0 && c == '0')
            return true; // leading zeros are not significant
        if (digits == max_fast_digits)
            return false;
        mantissa = mantissa * 10 + static_cast<uint64_t>(c - '0');
        ++digits;
        return true;
    };
    for (char c : parts.int_digits)
        if (!take(c))
            return false;
    for (char c : parts.frac_digits) {
        if (!take(c))
            return false;
        --scale;
    }
    int exponent = 0;
    for (char c : parts.exp_digits)
        exponent = exponent * 10 + (c - '0');
    scale += parts.exp_negative ? -exponent : exponent;
    if (mantissa == 0) {
        value = parts.negative ? -0.0 : 0.0;
        return true;
    }
    if (scale > max_exact_power || scale < -max_exact_power)
        return false;
    long double extended = static_cast<long double>(mantissa);
    extended = scale >= 0 ? extended * exact_powers[scale]
                          : extended / exact_powers[-scale];
    return StoreAsDouble(parts.negative ? -extended : extended, value);
}

} // namespace

char DecimalSeparator() {
    const char forced = separator_override.load(std::memory_order_relaxed);
    if (forced != no_override)
        return forced;
    static const char from_environment = EnvironmentSeparator();
    return from_environment;
}

void SetDecimalSeparator(char separator) {
    separator_override.store(separator, std::memory_order_relaxed);
}

ConversionError::ConversionError(const std::string &message)
    : std::runtime_error(message) {}

bool TryStrToFloat(std::string_view text, double &value, char separator) {
    DecimalText parts;
    if (!SplitDecimal(text, separator, parts))
        return false;
    double converted = 0.0;
    if (!FastConvert(parts, converted) && !SlowConvert(parts, converted))
        return false;
    value = converted;
    return true;
}

double StrToFloat(std::string_view text, char separator) {
    double value = 0.0;
    if (!TryStrToFloat(text, value, separator))
        throw ConversionError("'" + std::string(text) +
                              "' is not a valid floating point value");
    return value;
}

double StrToFloat(std::string_view text) {
    return StrToFloat(text, DecimalSeparator());
}

bool TryStrToInt(std::string_view text, int32_t &value) {
    size_t i = 0;
    const size_t n = text.size();
    while (i < n && text[i] == ' ')
        ++i;
    bool negative = false;
    if (i < n && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    if (i == n)
        return false;
    // Accumulate the magnitude in 64 bits; stop as soon as it cannot fit 32.
    constexpr int64_t limit = int64_t{INT32_MAX} + 1;
    int64_t magnitude = 0;
    for (; i < n; ++i) {
        if (!IsDigit(text[i]))
            return false;
        magnitude = magnitude * 10 + (text[i] - '0');
        if (magnitude > limit)
            return false;
    }
    if (!negative && magnitude == limit)
        return false;
    value = static_cast<int32_t>(negative ? -magnitude : magnitude);
    return true;
}

int32_t StrToInt(std::string_view text) {
    int32_t value = 0;
    if (!TryStrToInt(text, value))
        throw ConversionError("'" + std::string(text) +
                              "' is not a valid integer value");
    return value;
}

// The user's number format: the decimal separator and the conversion of text to
// numbers with it. Text is read in extended precision and stored as double.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

// The user's decimal separator: taken once from the environment's LC_NUMERIC
// locale (without changing the process's global C locale), unless overridden.
char DecimalSeparator();

// Overrides the separator for the rest of the process (batch option, tests);
// '\0' returns to the environment's separator.
void SetDecimalSeparator(char separator);

// A text that is not a number in the user's format, e.g.
// "'abc' is not a valid floating point value" or "'x' is not a valid integer
// value".
class ConversionError : public std::runtime_error {
  public:
    explicit ConversionError(const std::string &message);
};

// Decimal number: optional spaces, optional sign, digits, optionally the
// separator and digits, optionally E or e with optional sign and digits,
// optional spaces. Every digit run may be empty, but the text may not be empty
// or a lone sign; a lone separator reads 0 and a trailing E is ignored. The
// value is rounded once to extended precision, then to double; a value beyond
// the range of double fails. Returns false (value untouched) when the text does
// not convert.
bool TryStrToFloat(std::string_view text, double &value, char separator);

// As TryStrToFloat, but throws ConversionError naming the text.
double StrToFloat(std::string_view text, char separator);

// As above with DecimalSeparator().
double StrToFloat(std::string_view text);

// Decimal integer: optional leading spaces, optional sign, at least one digit
// and nothing else; it must fit in 32 bits. Returns false (value untouched)
// otherwise.
bool TryStrToInt(std::string_view text, int32_t &value);

// As TryStrToInt, but throws ConversionError naming the text.
int32_t StrToInt(std::string_view text);

// The station file: a UTF-8 text file with one survey station per line. Reading
// it line by line, normalising a line's separators and parsing it into a
// Station.
#pragma once

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "platform/FileError.h"
#include "platform/TextReader.h"

// One parsed line. Coordinates in metres (x first, then y), height in metres
// above sea level, value in mGal.
struct Station {
    double x, y;
    char point[100]; // station name in Windows-1250, at most 99 bytes,
                     // zero-terminated
    double h, value;
};

// Longest station name kept, in bytes of the 8-bit code page; longer names are
// cut.
constexpr size_t max_point_bytes = sizeof(Station::point) - 1;

// Sets the station's name from UTF-8 text: converted to the 8-bit code page
// (a character it lacks becomes its substitute) and cut to max_point_bytes.
void SetStationName(Station &station, std::string_view utf8);

// Replaces commas (unless the separator is a comma), semicolons and tabs with
// spaces, trims every character up to code 32 from both ends and leaves single
// spaces between fields. Other characters stay as they are.
std::string NormaliseLine(std::string_view line, char decimal_separator);

// Splits a normalised line into fields at single spaces (a field starting with
// a double quote runs to its closing quote; "" inside stands for ") and
// converts the first five into x, y, point, h and value. False when there are
// fewer than five fields or a number does not convert; the record is then of no
// use.
bool ParseStationLine(std::string_view normalised, Station &station,
                      char decimal_separator);
// As above, and the name field as it is in the line (UTF-8, not cut) into
// `name` when the line parsed, and into `more_fields` (when given) whether the
// line holds fields after the fifth.
bool ParseStationLine(std::string_view normalised, Station &station,
                      char decimal_separator, std::string &name,
                      bool *more_fields = nullptr);

// The value field (the fifth) of a normalised line as it is written there,
// quotes taken off; empty when the line has fewer fields.
std::string StationValueText(std::string_view normalised);

// True when a line as read (before its commas become blanks) holds a number
// written with thousands separators: a token of one to three digits followed
// by groups of a comma and exactly three digits, perhaps a sign before and a
// decimal part after ("6,008,599.50").
bool HasThousandsSeparators(std::string_view line);

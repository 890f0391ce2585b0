// What the first bytes of a source tell of it, without opening it with GDAL:
// a station text file, a text table with a header, or something only GDAL can
// identify. The batch tool and the window decide by it whether GDAL is needed
// at all.
#pragma once

#include <cstddef>
#include <istream>
#include <string>
#include <string_view>

#include "gis/TableSource.h"

// The bytes read to decide what a file is.
inline constexpr size_t source_sample_bytes = 64 * 1024;
inline constexpr std::string_view utf8_bom = "\xEF\xBB\xBF";

// True when the line holds nothing above a blank.
bool IsBlankLine(std::string_view line);

// Calls `take` with each line of `text` (ends at LF, CRLF or a lone CR)
// until it returns false.
template <typename Take> void ForEachLine(std::string_view text, Take take) {
    while (!text.empty()) {
        const size_t end = text.find_first_of("\r\n");
        if (!take(text.substr(0, end)) || end == std::string_view::npos)
            return;
        const size_t next = (text[end] == '\r' && end + 1 < text.size() &&
                             text[end + 1] == '\n')
                                ? end + 2
                                : end + 1;
        text.remove_prefix(next);
    }
}

// The first source_sample_bytes of `in` (fewer at its end) into `sample`;
// false when the stream did not open or could not be read.
bool ReadSourceSample(std::istream &in, std::string &sample);

// The first line of `text` that is not blank; empty when there is none.
std::string_view FirstNonBlankLine(std::string_view text);

// DecideSource on the first bytes of a file (source_sample_bytes of them),
// for everything but GDAL's part: `identify` is set when the file is binary,
// or text that starts like JSON or XML, which only GDAL can tell (the
// decision is then a station text file unless GDAL identifies it).
SourceDecision DecideFromSample(std::string_view sample,
                                const TableOptions &options, bool &identify);

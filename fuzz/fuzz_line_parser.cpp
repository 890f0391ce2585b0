// Fuzzes the line normaliser and the station parser with both decimal
// separators.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "app/StationFile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const std::string_view line(reinterpret_cast<const char *>(data), size);
    for (const char separator : {'.', ','}) {
        const std::string normal = NormaliseLine(line, separator);
        // No blanks or control characters at the ends, no two spaces in a row.
        if (!normal.empty() &&
            (static_cast<unsigned char>(normal.front()) <= 32 ||
             static_cast<unsigned char>(normal.back()) <= 32)) {
            std::abort();
        }
        if (normal.find("  ") != std::string::npos) {
            std::abort();
        }
        if (separator == '.' && normal.find(',') != std::string::npos) {
            std::abort();
        }
        Station station{};
        if (ParseStationLine(normal, station, separator)) {
            if (!std::isfinite(station.x) || !std::isfinite(station.y) ||
                !std::isfinite(station.h) || !std::isfinite(station.value)) {
                std::abort();
            }
            if (std::memchr(station.point, '\0', sizeof station.point) ==
                nullptr) {
                std::abort();
            }
        }
    }
    return 0;
}

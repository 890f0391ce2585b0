// Fuzzes the station file reader on whole files: decoding, line ends, parsing.
#include <cstdint>
#include <cstdio>
#include <string>
#include <unistd.h>

#include "app/StationFile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static const std::string path =
        "/tmp/korvanel-fuzz-" + std::to_string(getpid()) + ".dat";
    std::FILE *file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) {
        return 0;
    }
    std::fwrite(data, 1, size, file);
    std::fclose(file);
    try {
        TTextReader reader(path);
        std::string line;
        Station station{};
        while (reader.ReadLine(line)) {
            (void)ParseStationLine(NormaliseLine(line, '.'), station, '.');
        }
    } catch (const EncodingError &) {
        // invalid UTF-8 is reported, as it must be
    }
    return 0;
}

// Speed of the first pass: reading, normalising and parsing a station file, and
// loading the parsed stations into the point table. Reports lines per second
// (median of several runs) and the ratio against a plain line count of the same
// file, measured in the same run.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <random>
#include <stdexcept>
#include <string>
#include <unistd.h>
#include <vector>

#include "app/StationFile.h"
#include "store/PointTable.h"

namespace {

constexpr int station_count = 1000000;
constexpr int runs = 5;
constexpr uint32_t seed = 20261210;

// A survey-like file: metre coordinates with centimetres, names, heights and
// anomalies, separated by semicolons, CRLF line ends, a header line.
std::string WriteStationFile() {
    const char *folder = std::getenv("TMPDIR");
    const std::string path = std::string(folder != nullptr ? folder : "/tmp") +
                             "/korvanel_bench_" + std::to_string(getpid()) +
                             ".xyz";
    std::FILE *file = std::fopen(path.c_str(), "wb");
    if (file == nullptr)
        throw std::runtime_error("cannot create " + path);
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> cm(0, 20000000), height(1000, 9000),
        anomaly(-50000, 50000);
    std::fputs("x;y;point;h;uba\r\n", file);
    for (int i = 0; i < station_count; ++i) {
        const int x = 40000000 + cm(random), y = 540000000 + cm(random);
        const int a = anomaly(random);
        std::fprintf(file, "%d.%02d;%d.%02d;P%07d;%d.%d;%s%d.%03d\r\n", x / 100,
                     x % 100, y / 100, y % 100, i, height(random) / 10,
                     height(random) % 10, a < 0 ? "-" : "", std::abs(a) / 1000,
                     std::abs(a) % 1000);
    }
    if (std::fclose(file) != 0)
        throw std::runtime_error("cannot write " + path);
    return path;
}

double MedianSeconds(const std::function<long()> &work, long &result) {
    std::vector<double> seconds;
    for (int run = 0; run < runs; ++run) {
        const auto start = std::chrono::steady_clock::now();
        result = work();
        seconds.push_back(std::chrono::duration<double>(
                              std::chrono::steady_clock::now() - start)
                              .count());
    }
    std::sort(seconds.begin(), seconds.end());
    return seconds[runs / 2];
}

// Baseline: the same bytes read in large blocks, lines counted with memchr.
long CountLines(const std::string &path) {
    const int descriptor = ::open(path.c_str(), O_RDONLY);
    std::vector<char> buffer(size_t{1} << 20);
    long lines = 0;
    ssize_t got;
    while ((got = ::read(descriptor, buffer.data(), buffer.size())) > 0) {
        const char *p = buffer.data(), *end = p + got;
        while ((p = static_cast<const char *>(std::memchr(
                    p, '\n', static_cast<size_t>(end - p)))) != nullptr) {
            ++lines;
            ++p;
        }
    }
    ::close(descriptor);
    return lines;
}

long ReadOnly(const std::string &path) {
    TTextReader reader(path);
    std::string_view line;
    long lines = 0;
    while (reader.ReadLine(line))
        ++lines;
    return lines;
}

long ReadAndParse(const std::string &path) {
    TTextReader reader(path);
    std::string_view line;
    Station station;
    long parsed = 0;
    while (reader.ReadLine(line))
        if (ParseStationLine(NormaliseLine(line, '.'), station, '.'))
            ++parsed;
    return parsed;
}

long ReadParseAndLoad(const std::string &path) {
    TTextReader reader(path);
    CppSQLite3DB db;
    CppSQLite3Statement insert = BeginLoad(db);
    std::string_view line;
    Station station;
    long loaded = 0;
    while (reader.ReadLine(line))
        if (ParseStationLine(NormaliseLine(line, '.'), station, '.')) {
            AddStation(insert, station.x, station.y, station.value);
            ++loaded;
        }
    EndLoad(db, insert);
    if (CountInSquare(db, 500000, 5500000, 1e6) != loaded)
        throw std::runtime_error("stations lost in the load");
    db.Close();
    return loaded;
}

} // namespace

int main() {
    const std::string path = WriteStationFile();
    long lines = 0, read = 0, parsed = 0, loaded = 0;
    const double baseline =
        MedianSeconds([&] { return CountLines(path); }, lines);
    const double reading = MedianSeconds([&] { return ReadOnly(path); }, read);
    const double parse =
        MedianSeconds([&] { return ReadAndParse(path); }, parsed);
    const double load =
        MedianSeconds([&] { return ReadParseAndLoad(path); }, loaded);
    std::remove(path.c_str());
    std::printf("station file: %ld lines (%d stations and a header), median of "
                "%d runs\n",
                lines, station_count, runs);
    std::printf("  line count (baseline)  %8.3f s  %12.0f lines/s\n", baseline,
                lines / baseline);
    std::printf("  read (UTF-8 checked)   %8.3f s  %12.0f lines/s  %6.2f x "
                "baseline time\n",
                reading, read / reading, reading / baseline);
    std::printf("  read + parse           %8.3f s  %12.0f lines/s  %6.2f x "
                "baseline time\n",
                parse, lines / parse, parse / baseline);
    std::printf("  read + parse + load    %8.3f s  %12.0f stations/s  %6.2f x "
                "baseline time\n",
                load, loaded / load, load / baseline);
    return read == lines && parsed == station_count && loaded == station_count
               ? 0
               : 1;
}

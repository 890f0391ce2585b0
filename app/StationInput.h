// Where a run's stations come from: a source read line by line (or row by
// row), once in each of the run's two passes.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "app/StationFile.h"

// One line of the source as a pass meets it.
struct InputRecord {
    int64_t line = 0;         // line of the file (row of a table), from 1
    bool is_station = false;  // the line gave a station
    bool blank = false;       // the line holds nothing but blanks
    Station station{};        // the station, when is_station
    std::string name;         // its name as the source spells it, UTF-8
    bool has_height = true;   // the source gave a height (else h is 0)
    bool more_fields = false; // the line held fields after the fifth
    std::string_view text;    // the line as read; valid until the next Next
};

// A source of stations. Every pass starts with Rewind and meets the same
// lines in the same order, whatever the source is.
class TStationInput {
  public:
    virtual ~TStationInput() = default;
    // Starts a pass at the first line; the first call opens the source.
    // Throws FileError or EncodingError.
    virtual void Rewind() = 0;
    // The next line into `record`; false at the end. Throws as Rewind.
    virtual bool Next(InputRecord &record) = 0;
};

// A station taken from elsewhere (a table, a layer, a station file moved to
// another coordinate system): metres, mGal, and the row (or line) it came
// from, counted from 1.
struct ListedStation {
    double x = 0.0, y = 0.0;
    double h = 0.0; // metres; NaN when the source gave no height
    double value = 0.0;
    int64_t row = 0;
};

// Stations held in memory for a run, in their source's order, kept compact
// as the run's quality control keeps its stations (qc/QcStation.h): one small
// record each, the names (UTF-8) one after the other in a pool, and the few
// lines that held no station apart, each with its text and its place.
class TListedStations {
  public:
    // Adds a station and its name.
    void Add(const ListedStation &station, std::string_view name);
    // Adds a line that held no station, `row` of the source, after the
    // stations added so far.
    void AddUnread(int64_t row, std::string_view text);
    // Room for `count` stations, so that adding them moves nothing: a list
    // grown by doubling frees blocks as large as itself on the way, and the
    // allocator then keeps what the run frees later (glibc raises its
    // thresholds to the largest block freed).
    void Reserve(size_t count);
    // Gives back the room reserved or grown beyond what is held, once every
    // station is added (the list is then kept for a whole run), when that
    // room is more than an eighth of the list.
    void Trim();
    size_t Size() const { return stations.size(); }
    bool Empty() const { return stations.empty(); }
    ListedStation &operator[](size_t k) { return stations[k]; }
    const ListedStation &operator[](size_t k) const { return stations[k]; }
    std::string_view Name(size_t k) const;

    // A line that held no station: before station `before` (an index; Size()
    // when it came after the last), `row` of the source, its text.
    struct Unread {
        size_t before;
        int64_t row;
        std::string text;
    };
    const std::vector<Unread> &UnreadLines() const { return unread; }

  private:
    std::vector<ListedStation> stations;
    std::string names;              // every name, one after the other
    std::vector<uint64_t> name_end; // end of name k in `names`
    std::vector<Unread> unread;
};

// Stations held in memory, met in their order in every pass, with the lines
// that held no station in their places. Each becomes a Station as a line of
// the station file would: the name converted to the 8-bit code page and cut
// as there, a missing height written as 0.
class TStationListInput : public TStationInput {
  public:
    explicit TStationListInput(TListedStations stations);

    void Rewind() override {
        next = 0;
        next_unread = 0;
    }
    bool Next(InputRecord &record) override;

  private:
    TListedStations stations;
    size_t next = 0;        // the next station
    size_t next_unread = 0; // the next line that held no station
};

// True when `path` cannot be read twice and is read once into memory: "-"
// (standard input), or something that exists and is not a regular file (a
// pipe, a device).
bool ReadOnce(const std::string &path);

// The most a source read once is allowed to hold, bytes, unless the user
// raises it.
inline constexpr uint64_t default_read_once_limit = uint64_t{4} << 30;

// Every byte of `path` ("-": standard input), read once. Throws FileError,
// also when the source holds more than `limit` bytes, and EncodingError at
// the first NUL byte of a source that does not begin like a binary table.
std::string ReadWholeSource(const std::string &path,
                            uint64_t limit = default_read_once_limit);

// A station text file, one station per line (x y point h value). A regular
// file is read from disk in each pass; anything else (a pipe, "-" for standard
// input, a device) is read once into memory, so that both passes meet the
// same lines.
class TStationTextInput : public TStationInput {
  public:
    // `separator`: the decimal separator of the numbers; `encoding`: the
    // file's text encoding as EncodingKnown takes it (empty: UTF-8).
    TStationTextInput(std::string path, char separator,
                      std::string encoding = {});
    // The same source already read into memory (ReadWholeSource): `path`
    // only names it in messages.
    TStationTextInput(std::string path, std::string bytes, char separator,
                      std::string encoding = {});

    void Rewind() override;
    bool Next(InputRecord &record) override;

  private:
    std::string path;
    char separator;
    std::string encoding;
    bool opened = false;
    bool in_memory = false;
    std::string held; // the whole source, when it is read into memory
    std::unique_ptr<TTextReader> reader;
    std::string normal; // the current line, normalised
};

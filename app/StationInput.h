// Where a run's stations come from: a source read line by line (or row by
// row), once in each of the run's two passes.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "app/StationFile.h"
#include "gis/SurveyStations.h"

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
    // The source has a survey field (tables and layers), and the station's
    // survey in it (UTF-8; empty for none).
    bool surveyed = false;
    std::string survey;
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

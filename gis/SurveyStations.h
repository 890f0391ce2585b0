// The stations a table or layer holds (or a station file moved to another
// coordinate system), read into memory for a run: compact records and their
// names, as the GIS readers fill them and the run takes them.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

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
    // Adds a station, its name and its survey (empty: none). The survey is
    // kept only after KeepSurveys.
    void Add(const ListedStation &station, std::string_view name,
             std::string_view survey = {});
    // The source has a survey field: each station's survey is kept, as an
    // index into a list of the surveys met. Before the first Add.
    void KeepSurveys() { surveyed = true; }
    bool HasSurveys() const { return surveyed; }
    // Station k's survey (UTF-8), empty for none; empty without surveys.
    std::string_view Survey(size_t k) const;
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
    // With surveys: per station an index into survey_names (0 is none).
    bool surveyed = false;
    std::vector<uint32_t> survey_of;
    std::vector<std::string> survey_names{std::string()};
    std::unordered_map<std::string, uint32_t> survey_index;
};

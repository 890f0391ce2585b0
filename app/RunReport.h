// What a Calc run met that its user should know of: lines that were not
// stations, and each reason a station got no line or no leave-one-out
// estimate, with how many stations it hit and which came first. The texts the
// user reads are composed here, once, for the window and the batch tool alike.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "estimate/StationEstimate.h"

// Why a station has no line, or no leave-one-out estimate.
enum class StationIssue : uint8_t {
    WindowShort,      // skipped: no window could hold N stations
    OwnSampleMissing, // skipped: its position was not in the point table
    EstimationError,  // skipped: an error ended its estimation
    GridRefused,      // a kriging run was refused with a message
    NoSampleLeft,     // no leave-one-out estimate: the window held only it
    OneRow,           // no leave-one-out estimate: all on one line of y
    BlankEstimate,    // no leave-one-out estimate: too few grid neighbours
};

// One reason, with the stations it hit.
struct IssueTally {
    StationIssue issue;
    std::string detail; // the gridder's message or the error's text
    int64_t count = 0;
    struct Hit {
        std::string name; // UTF-8
        int64_t line;
    };
    std::vector<Hit> first; // the first few stations, in file order
};

// A line of the station file that held no station.
struct UnreadLine {
    int64_t line;
    std::string text; // as read, cut to a screen line
};

// Where a source holds bytes that are not text in its encoding: "Line 3 of
// PATH is not UTF-8 text.", then the system's message `what`. With
// `detailed` (the batch tool) the bytes follow the line ("(the bytes 0xF6)")
// and, for a file read as UTF-8, the hint of --encoding ends it.
std::string NotTextMessage(const std::string &path, int64_t line,
                           const std::string &encoding,
                           const std::string &bytes, const std::string &what,
                           bool detailed = true);

class TRunReport {
  public:
    // Stations named per reason, and unread lines kept (more with keep_all).
    static constexpr size_t names_kept = 5;

    // Counts a station hit by `issue`; `detail` tells messages and errors
    // apart, so each distinct text is one reason.
    void Add(StationIssue issue, std::string_view detail, std::string_view name,
             int64_t line);
    // Counts a line that held no station, keeping its text for the first few.
    void AddUnread(int64_t line, std::string_view text);
    // Counts a station line that held fields after the fifth (which are not
    // read); `thousands`: its commas split numbers written with thousands
    // separators (HasThousandsSeparators).
    void AddWideLine(int64_t line, std::string_view text, bool thousands);
    int64_t WideLines() const { return wide_count; }
    // What the wide lines tell the user, a line each; none when there were
    // none.
    std::vector<std::string> DescribeWideLines() const;

    // The reasons, in the order they were first met.
    const std::vector<IssueTally> &Tallies() const { return tallies; }
    const std::vector<UnreadLine> &FirstUnread() const { return unread; }
    int64_t UnreadCount() const { return unread_count; }
    // Stations hit by the reasons that skip a station.
    int64_t Skipped() const;

    // One line per reason: "<reason>: <n> stations, first <names>".
    std::vector<std::string> Describe() const;
    // Why no station got a leave-one-out estimate: the likely cause and what
    // to change, from the reasons met.
    // `degrees`: the coordinates look like longitude and latitude, which
    // then is the advice.
    std::string NothingEstimated(const RunParameters &parameters,
                                 bool degrees = false) const;
    // The lines that held no station, "line <n>: <text>" each.
    std::vector<std::string> DescribeUnread() const;

    // The text of a reason (without its counts).
    static std::string IssueText(const IssueTally &tally);
    // A line of the station file cut for a message.
    static std::string ShortLine(std::string_view text);

  private:
    std::vector<IssueTally> tallies;
    std::vector<UnreadLine> unread;
    int64_t unread_count = 0;
    int64_t wide_count = 0;
    UnreadLine first_wide{0, {}};
    int64_t thousands_count = 0;
    UnreadLine first_thousands{0, {}};
};

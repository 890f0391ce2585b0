// Stations held in memory for a run (a table's, a station file's moved to
// another coordinate system): met as the station file's own lines are, with
// the lines that held no station in their places, in every pass.
#include <charconv>
#include <cmath>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/StationInput.h"

namespace {

// A double as the shortest text that reads back as it: equal texts, equal
// doubles.
std::string Exact(double value) {
    char buffer[32];
    return std::string(
        buffer, std::to_chars(buffer, buffer + sizeof buffer, value).ptr);
}

// What a pass meets, line by line, as text: the oracle compares the list with
// the station file read directly.
std::vector<std::string> Pass(TStationInput &input) {
    std::vector<std::string> met;
    InputRecord record;
    input.Rewind();
    while (input.Next(record)) {
        std::string line = std::to_string(record.line) + ":";
        if (record.is_station) {
            line += Exact(record.station.x) + " " + Exact(record.station.y) +
                    " " + std::string(record.station.point) + " " +
                    Exact(record.station.h) + " " +
                    Exact(record.station.value) + " " + record.name +
                    (record.has_height ? "" : " (no height)");
        } else {
            line += "unread " + std::string(record.text);
        }
        met.push_back(line);
    }
    return met;
}

} // namespace

TEST(StationList, MeetsWhatTheStationFileMeets) {
    // Unread lines first, between stations and last; a long name; a name
    // the 8-bit code page lacks a character of.
    const std::string file =
        "# survey\n"
        "1.5 2.25 A 3 -4.125\n"
        "not a station\n"
        "also not\n"
        "10 20 Station_with_a_rather_long_name_that_goes_"
        "on_and_on 30 40\n"
        "11 21 \xE2\x82\xAC-\xC5\x81\xC3\xB3\x64\xC5\xBA 31 41\n"
        "trailing words\n";
    TStationTextInput text("survey.dat", file, '.');
    TListedStations listed;
    InputRecord record;
    text.Rewind();
    while (text.Next(record)) {
        if (record.is_station)
            listed.Add({record.station.x, record.station.y, record.station.h,
                        record.station.value, record.line},
                       record.name);
        else if (!record.blank)
            listed.AddUnread(record.line, record.text);
    }
    listed.Trim();
    ASSERT_EQ(listed.Size(), 3u);
    EXPECT_EQ(listed.Name(1),
              "Station_with_a_rather_long_name_that_goes_on_and_on");

    TStationListInput list(std::move(listed));
    const std::vector<std::string> expected = Pass(text);
    ASSERT_EQ(expected.size(), 7u);
    EXPECT_EQ(Pass(list), expected);
    EXPECT_EQ(Pass(list), expected); // the second pass meets the same
}

TEST(StationList, MissingHeightIsWrittenAsZero) {
    TListedStations listed;
    listed.Add({1.0, 2.0, std::nan(""), 3.0, 7}, "P");
    listed.Add({4.0, 5.0, -0.5, 6.0, 9}, "");
    TStationListInput list(std::move(listed));
    InputRecord record;
    list.Rewind();
    ASSERT_TRUE(list.Next(record));
    EXPECT_FALSE(record.has_height);
    EXPECT_EQ(record.station.h, 0.0);
    EXPECT_EQ(record.line, 7);
    ASSERT_TRUE(list.Next(record));
    EXPECT_TRUE(record.has_height);
    EXPECT_EQ(record.station.h, -0.5);
    EXPECT_EQ(record.name, "");
    EXPECT_FALSE(list.Next(record));
}

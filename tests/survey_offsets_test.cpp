// Survey offsets: a constant planted in one survey recovered from where the
// surveys meet, offsets carried along a chain, a survey that meets none, the
// datum and the refusals; and the survey of each station from its name.
#include <cmath>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "qc/SurveyHull.h"
#include "qc/SurveyNames.h"
#include "qc/SurveyOffsets.h"

namespace {

// Lattice stations `spacing` metres apart, columns 0..columns-1 and rows
// 0..rows-1, on a smooth field with noise of 0.05 mGal (fixed seed); the
// survey of a station is given by `survey_of(column)` and its name is the
// survey followed by a number.
struct Lattice {
    TQcStations stations;
    SurveyGrouping grouping;
};

template <typename SurveyOf>
Lattice MakeLattice(int columns, int rows, double spacing, SurveyOf survey_of,
                    double x0 = 500000.0) {
    std::mt19937 random(22);
    std::normal_distribution<double> noise(0.0, 0.05);
    Lattice lattice;
    TSurveyGrouper grouper;
    for (int c = 0; c < columns; ++c) {
        for (int r = 0; r < rows; ++r) {
            QcStation s;
            s.x = x0 + spacing * c;
            s.y = 7000000.0 + spacing * r;
            s.value = 3.0 * std::sin(s.x / 4000.0) + 2.0 * std::cos(s.y / 3000.0) +
                      noise(random);
            s.status = QcStatus::Ok;
            const std::string survey = survey_of(c);
            lattice.stations.Add(s, survey + std::to_string(c * rows + r));
            grouper.Add(survey);
        }
    }
    lattice.grouping = grouper.Finish();
    return lattice;
}

void Plant(Lattice &lattice, const std::string &survey, double offset) {
    const uint32_t s = *FindSurvey(lattice.grouping, survey);
    for (size_t k = 0; k < lattice.stations.Size(); ++k) {
        if (lattice.grouping.survey[k] == s) {
            lattice.stations[k].value += offset;
        }
    }
}

const SurveyOffset &Of(const SurveyOffsets &offsets, const Lattice &lattice,
                       const std::string &survey) {
    return offsets.surveys[*FindSurvey(lattice.grouping, survey)];
}

constexpr double spacing = 200.0;         // metres
constexpr double search_distance = 1500.0; // metres, about 7 spacings

} // namespace

TEST(SurveyOffsets, PlantedConstantRecoveredWithinItsStandardError) {
    // Two surveys of 15 x 30 stations side by side; the eastern raised by 2.
    Lattice lattice = MakeLattice(30, 30, spacing, [](int c) {
        return std::string(c < 15 ? "WEST" : "EAST");
    });
    Plant(lattice, "EAST", 2.0);
    const SurveyOffsets offsets = EstimateSurveyOffsets(
        lattice.stations, lattice.grouping, search_distance, {});
    ASSERT_EQ(offsets.refusal, SurveyRefusal::None);
    const SurveyOffset &west = Of(offsets, lattice, "WEST");
    const SurveyOffset &east = Of(offsets, lattice, "EAST");
    ASSERT_TRUE(west.linked && east.linked);
    EXPECT_EQ(west.group, east.group);
    // Equal counts: the lower offset is the station-weighted median.
    EXPECT_TRUE(west.datum);
    EXPECT_EQ(west.offset, 0.0); // exactly: the datum is subtracted
    EXPECT_GT(east.standard_error, 0.0);
    // Two standard errors: an unbiased estimate lies within one only two
    // times in three.
    EXPECT_NEAR(east.offset, 2.0, 2.0 * east.standard_error);
    EXPECT_TRUE(east.shifted);
    EXPECT_FALSE(west.shifted);
    EXPECT_GT(east.in_contact, 0);
    EXPECT_LT(east.in_contact, east.stations); // only near the seam
}

TEST(SurveyOffsets, NothingPlantedNothingShifted) {
    const Lattice lattice = MakeLattice(30, 30, spacing, [](int c) {
        return std::string(1, static_cast<char>('A' + c / 10));
    });
    const SurveyOffsets offsets = EstimateSurveyOffsets(
        lattice.stations, lattice.grouping, search_distance, {});
    ASSERT_EQ(offsets.surveys.size(), 3u);
    for (const SurveyOffset &s : offsets.surveys) {
        EXPECT_FALSE(s.shifted);
        EXPECT_LT(std::fabs(s.offset), 0.1); // the noise's scale
    }
}

TEST(SurveyOffsets, ChainOfThreeCarriesTheOffsetAcrossTheMiddle) {
    // A | B | C, each 10 columns (2 km) wide: A and C are 2.2 km apart, beyond
    // the 1.5 km search distance, so they meet only through B.
    Lattice lattice = MakeLattice(30, 30, spacing, [](int c) {
        return std::string(1, static_cast<char>('A' + c / 10));
    });
    Plant(lattice, "C", 3.0);
    Plant(lattice, "A", -1.5);
    const SurveyOffsets offsets = EstimateSurveyOffsets(
        lattice.stations, lattice.grouping, search_distance, {});
    const SurveyOffset &a = Of(offsets, lattice, "A");
    const SurveyOffset &b = Of(offsets, lattice, "B");
    const SurveyOffset &c = Of(offsets, lattice, "C");
    EXPECT_EQ(offsets.groups, 1);
    EXPECT_TRUE(b.datum); // the median of -1.5, 0 and 3
    EXPECT_NEAR(a.offset, -1.5, 0.15);
    EXPECT_NEAR(c.offset, 3.0, 0.15);
    EXPECT_TRUE(a.shifted && c.shifted);
    EXPECT_FALSE(b.shifted);
}

TEST(SurveyOffsets, SurveyMeetingNoneHasNoOffset) {
    // Two surveys that meet, and an island 50 km away.
    Lattice lattice = MakeLattice(20, 20, spacing, [](int c) {
        return std::string(c < 10 ? "WEST" : "EAST");
    });
    const Lattice island = MakeLattice(5, 5, spacing, [](int) {
        return std::string("ISLAND");
    }, 550000.0);
    TSurveyGrouper grouper;
    for (size_t k = 0; k < lattice.stations.Size(); ++k) {
        grouper.Add(lattice.grouping.names[lattice.grouping.survey[k]]);
    }
    for (size_t k = 0; k < island.stations.Size(); ++k) {
        lattice.stations.Add(island.stations[k], island.stations.Name(k));
        grouper.Add("ISLAND");
    }
    lattice.grouping = grouper.Finish();
    const SurveyOffsets offsets = EstimateSurveyOffsets(
        lattice.stations, lattice.grouping, search_distance, {});
    const SurveyOffset &alone = Of(offsets, lattice, "ISLAND");
    EXPECT_FALSE(alone.linked);
    EXPECT_TRUE(std::isnan(alone.offset));
    EXPECT_EQ(alone.group, -1);
    EXPECT_EQ(alone.in_contact, 0);
    EXPECT_EQ(alone.stations, 25);
    EXPECT_FALSE(alone.shifted);
    EXPECT_TRUE(Of(offsets, lattice, "WEST").linked);
}

TEST(SurveyOffsets, ReferenceSurveyHeldAtZero) {
    Lattice lattice = MakeLattice(30, 30, spacing, [](int c) {
        return std::string(c < 15 ? "WEST" : "EAST");
    });
    Plant(lattice, "EAST", 2.0);
    SurveyOffsetOptions options;
    options.reference = "EAST";
    const SurveyOffsets offsets = EstimateSurveyOffsets(
        lattice.stations, lattice.grouping, search_distance, options);
    EXPECT_EQ(Of(offsets, lattice, "EAST").offset, 0.0); // exactly: fixed
    EXPECT_TRUE(Of(offsets, lattice, "EAST").datum);
    EXPECT_NEAR(Of(offsets, lattice, "WEST").offset, -2.0, 0.15);
}

TEST(SurveyOffsets, Refusals) {
    struct Case {
        const char *name;
        std::vector<std::string> surveys; // one per station, in order
        std::string reference;
        SurveyRefusal expected;
    };
    std::vector<std::string> singles;
    for (int k = 0; k < 40; ++k) {
        singles.push_back("S" + std::to_string(k));
    }
    const Case cases[] = {
        {"one survey", std::vector<std::string>(40, "ONLY"), "", SurveyRefusal::OneSurvey},
        {"no survey at all", std::vector<std::string>(40, ""), "", SurveyRefusal::OneSurvey},
        {"a survey per station", singles, "", SurveyRefusal::GroupingLooksWrong},
        {"unknown reference", {20, "A"}, "B", SurveyRefusal::UnknownReference},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        TQcStations stations;
        TSurveyGrouper grouper;
        for (size_t k = 0; k < c.surveys.size(); ++k) {
            QcStation s;
            s.x = 100.0 * static_cast<double>(k);
            s.y = 0.0;
            s.value = 1.0;
            s.status = QcStatus::Ok;
            stations.Add(s, "P");
            grouper.Add(c.surveys[k]);
        }
        const SurveyGrouping grouping = grouper.Finish();
        SurveyOffsetOptions options;
        options.reference = c.reference;
        const SurveyOffsets offsets =
            EstimateSurveyOffsets(stations, grouping, 1000.0, options);
        EXPECT_EQ(offsets.refusal, c.expected);
        EXPECT_TRUE(offsets.surveys.empty());
    }
}

TEST(SurveyNames, SurveyFromName) {
    struct Case {
        const char *name;
        std::string option, station, expected;
    };
    const Case cases[] = {
        {"letters and digits", "^[A-Z]+[0-9]*", "SA10109", "SA10109"},
        {"first match anywhere", "LN[0-9]", "U7_LN185", "LN1"},
        {"lookahead keeps the line", "^S[0-9]+(?=[0-9]{3}$)", "S12345", "S12"},
        {"no match", "^X", "U7_LN185", ""},
        {"auto drops trailing digits", "auto", "U7_LN185", "U7_LN"},
        {"auto keeps inner digits", "auto", "B2_2x", "B2_2x"},
        {"auto on digits only", "auto", "12345", ""},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const SurveyNamerParse parse = ParseSurveyNamer(c.option);
        ASSERT_TRUE(parse.namer.has_value());
        EXPECT_EQ(parse.namer->SurveyOf(c.station), c.expected);
    }
}

TEST(SurveyNames, PatternThatDoesNotCompileSaysWhy) {
    const SurveyNamerParse parse = ParseSurveyNamer("^[A-Z");
    EXPECT_FALSE(parse.namer.has_value());
    EXPECT_FALSE(parse.error.empty());
}

TEST(SurveyNames, GroupingKeepsFirstAppearanceAndCountsUnnamed) {
    TQcStations stations;
    for (const char *name : {"B1", "A7", "x", "B22", "A3", "y"}) {
        stations.Add(QcStation{}, name);
    }
    const SurveyGrouping grouping =
        GroupByName(stations, *ParseSurveyNamer("^[A-Z]").namer);
    EXPECT_EQ(grouping.names,
              (std::vector<std::string>{"B", "A", std::string(no_survey_name)}));
    EXPECT_EQ(grouping.survey, (std::vector<uint32_t>{0, 1, 2, 0, 1, 2}));
    EXPECT_EQ(grouping.unnamed, 2);
    EXPECT_EQ(grouping.first_unnamed, 2);
    EXPECT_FALSE(grouping.NoneNamed());
    const SurveyGrouping none =
        GroupByName(stations, *ParseSurveyNamer("^Q").namer);
    EXPECT_TRUE(none.NoneNamed());
}

TEST(SurveyHull, OutlineOfEachSurvey) {
    // A: a 3 x 3 square with its centre and edge midpoints inside or on the
    // edges; B: two stations (a line); C: one.
    TQcStations stations;
    TSurveyGrouper grouper;
    const auto add = [&](double x, double y, const char *survey) {
        QcStation s;
        s.x = x;
        s.y = y;
        stations.Add(s, "P");
        grouper.Add(survey);
    };
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j) {
            add(10.0 * i, 10.0 * j, "A");
        }
    }
    add(100.0, 0.0, "B");
    add(100.0, 50.0, "B");
    add(200.0, 0.0, "C");
    add(200.0, 0.0, "C"); // the same position twice counts once
    const std::vector<std::vector<HullPoint>> hulls =
        SurveyHulls(stations, grouper.Finish());
    ASSERT_EQ(hulls.size(), 3u);
    // exactly: corners are the stations' own coordinates, counter-clockwise
    const std::vector<std::pair<double, double>> square = {
        {0, 0}, {20, 0}, {20, 20}, {0, 20}};
    ASSERT_EQ(hulls[0].size(), square.size());
    for (size_t k = 0; k < square.size(); ++k) {
        EXPECT_EQ(hulls[0][k].x, square[k].first);
        EXPECT_EQ(hulls[0][k].y, square[k].second);
    }
    EXPECT_EQ(hulls[1].size(), 2u);
    EXPECT_EQ(hulls[2].size(), 1u);
}

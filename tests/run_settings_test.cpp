// The run's settings parsed from the window's four fields: the defaults, the
// order of the fields and the refusals the user reads.
#include <string>

#include <gtest/gtest.h>

#include "app/RunSettings.h"

TEST(RunSettings, DefaultsAreTheWindowsFieldsAndReadBackAsThemselves) {
    const ParameterTexts texts = DefaultParameterTexts();
    EXPECT_EQ(texts.search_distance, "2500");
    EXPECT_EQ(texts.increment, "500");
    EXPECT_EQ(texts.min_points, "16");
    EXPECT_EQ(texts.cell_size, "200");
    RunParameters parsed;
    parsed.search_distance = parsed.increment = parsed.cell_size = 0.0;
    parsed.min_points = 0;
    ASSERT_FALSE(ParseParameters(texts, '.', parsed));
    const RunParameters defaults;
    EXPECT_EQ(parsed.search_distance, defaults.search_distance);
    EXPECT_EQ(parsed.increment, defaults.increment);
    EXPECT_EQ(parsed.min_points, defaults.min_points);
    EXPECT_EQ(parsed.cell_size, defaults.cell_size);
}

TEST(RunSettings, FieldTextsAndTheirRefusals) {
    struct Case {
        const char *name;
        ParameterTexts texts;
        char separator;
        bool refused;
        ParameterField field;
        const char *message;
    };
    const Case cases[] = {
        {"decimals with a point",
         {"2500.5", "500", "16", "0.25"},
         '.',
         false,
         ParameterField::SearchDistance,
         ""},
        {"decimals with a comma",
         {"2500,5", "500", " 16", "0,25"},
         ',',
         false,
         ParameterField::SearchDistance,
         ""},
        {"a letter O for a zero",
         {"2500", "5OO", "16", "200"},
         '.',
         true,
         ParameterField::Increment,
         "'5OO' is not a valid floating point value"},
        {"N not an integer",
         {"2500", "500", "16.5", "200"},
         '.',
         true,
         ParameterField::MinPoints,
         "'16.5' is not a valid integer value"},
        {"N beyond 32 bits",
         {"2500", "500", "99999999999", "200"},
         '.',
         true,
         ParameterField::MinPoints,
         "'99999999999' is not a valid integer value"},
        {"a point under a comma",
         {"2500.5", "500", "16", "200"},
         ',',
         true,
         ParameterField::SearchDistance,
         "'2500.5' is not a valid floating point value"},
        {"an empty cell size",
         {"2500", "500", "16", ""},
         '.',
         true,
         ParameterField::CellSize,
         "'' is not a valid floating point value"},
        // The fields are read in order: the first that fails is said.
        {"two fields wrong",
         {"x", "500", "y", "200"},
         '.',
         true,
         ParameterField::SearchDistance,
         "'x' is not a valid floating point value"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        RunParameters parameters;
        const auto refusal = ParseParameters(c.texts, c.separator, parameters);
        ASSERT_EQ(refusal.has_value(), c.refused);
        if (!c.refused) {
            continue;
        }
        EXPECT_EQ(refusal->field, c.field);
        EXPECT_EQ(refusal->message, c.message);
    }
    RunParameters comma;
    ASSERT_FALSE(ParseParameters({"2500,5", "500", "16", "0,25"}, ',', comma));
    EXPECT_EQ(comma.search_distance, 2500.5);
    EXPECT_EQ(comma.cell_size, 0.25);
}

// The settings of a run, parsed once at the front end's edge: the four
// parameters, jobs, the station text's encoding and decimal separator, and
// quality control; and the parsing of the four parameter fields.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "app/RunQc.h"
#include "estimate/StationEstimate.h"

struct RunSettings {
    RunParameters parameters;
    // Stations estimated at once in the second pass. 1: one thread, one
    // station after the other. Above 1: as many worker threads over one
    // shared index of the point table; the result file, the host's calls
    // (all on the run's thread) and Stop are the same as with 1.
    int32_t jobs = 1;
    // Stations handed to the workers at once when jobs is above 1: enough
    // that their wait for a batch's last station costs little, few enough to
    // keep memory small.
    int32_t batch_size = 4096;
    // The station text's encoding as EncodingKnown takes it (empty: UTF-8)
    // and the decimal separator of its numbers.
    std::string encoding;
    char decimal_separator = '.';
    QcSettings qc;
    // Errors name the bytes that are not text and hint at what to do (the
    // batch tool); the window shows where and the system's own text.
    bool explain_errors = false;
};

// The four parameter fields as the user typed them.
struct ParameterTexts {
    std::string search_distance, increment, min_points, cell_size;
};

// The texts of the default parameters, as the window's fields show them.
ParameterTexts DefaultParameterTexts();

// The field a refusal is about.
enum class ParameterField : uint8_t {
    SearchDistance,
    Increment,
    MinPoints,
    CellSize
};

// A field that does not convert: which, its text, and the conversion's own
// message ("'abc' is not a valid floating point value", "'4.5' is not a
// valid integer value").
struct ParameterRefusal {
    ParameterField field;
    std::string text;
    std::string message;
};

// Converts the fields in the order search distance, increment, N, cell size
// (N an integer, the others decimal numbers with `separator`); the first that
// does not convert is the refusal, and `parameters` is then of no use.
std::optional<ParameterRefusal> ParseParameters(const ParameterTexts &texts,
                                                char separator,
                                                RunParameters &parameters);

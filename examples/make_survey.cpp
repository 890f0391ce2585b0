// Writes a synthetic station file: make_survey COUNT SPACING SEED
// [BLUNDER_EVERY] > file. The shipped example survey.dat was made with:
// make_survey 2000 300 2026 97
#include <cstdio>
#include <cstdlib>

#include "examples/SyntheticSurvey.h"

int main(int argc, char **argv) {
    if (argc < 4) {
        std::fprintf(stderr,
                     "usage: make_survey COUNT SPACING SEED [BLUNDER_EVERY]\n");
        return 2;
    }
    const auto count = static_cast<int32_t>(std::atol(argv[1]));
    const double spacing = std::atof(argv[2]);
    const auto seed = static_cast<uint32_t>(std::strtoul(argv[3], nullptr, 10));
    const int32_t blunder_every =
        argc > 4 ? static_cast<int32_t>(std::atol(argv[4])) : 0;
    if (count <= 0 || !(spacing > 0.0)) {
        std::fprintf(stderr,
                     "make_survey: COUNT and SPACING must be positive\n");
        return 2;
    }
    const std::string text = FormatSyntheticSurvey(
        MakeSyntheticSurvey(count, spacing, seed, blunder_every));
    return std::fwrite(text.data(), 1, text.size(), stdout) == text.size() ? 0
                                                                           : 1;
}

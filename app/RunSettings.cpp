// The parameter fields parsed into the run's settings.
#include "app/RunSettings.h"

#include <charconv>

#include "platform/Locale.h"

namespace {

// The shortest text of a default, as the window shows it ("2500").
std::string DefaultText(double value) {
    char text[32];
    const auto end = std::to_chars(text, text + sizeof text, value).ptr;
    return std::string(text, end);
}

} // namespace

ParameterTexts DefaultParameterTexts() {
    const RunParameters defaults;
    return {
        DefaultText(defaults.search_distance), DefaultText(defaults.increment),
        std::to_string(defaults.min_points), DefaultText(defaults.cell_size)};
}

std::optional<ParameterRefusal> ParseParameters(const ParameterTexts &texts,
                                                char separator,
                                                RunParameters &parameters) {
    struct Field {
        ParameterField field;
        const std::string &text;
        double *real;
        int32_t *whole;
    };
    const Field fields[] = {
        {ParameterField::SearchDistance, texts.search_distance,
         &parameters.search_distance, nullptr},
        {ParameterField::Increment, texts.increment, &parameters.increment,
         nullptr},
        {ParameterField::MinPoints, texts.min_points, nullptr,
         &parameters.min_points},
        {ParameterField::CellSize, texts.cell_size, &parameters.cell_size,
         nullptr},
    };
    for (const Field &f : fields) {
        try {
            if (f.real != nullptr) {
                *f.real = StrToFloat(f.text, separator);
            } else {
                *f.whole = StrToInt(f.text);
            }
        } catch (const ConversionError &error) {
            return ParameterRefusal{f.field, f.text, error.what()};
        }
    }
    return std::nullopt;
}

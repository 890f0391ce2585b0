// Fuzzes the conversion of text to numbers in the user's format.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "platform/Locale.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const std::string_view text(reinterpret_cast<const char *>(data), size);
    for (const char separator : {'.', ','}) {
        double value = 0.0;
        if (TryStrToFloat(text, value, separator) && !std::isfinite(value)) {
            std::abort(); // a conversion never yields an infinity or a NaN
        }
    }
    int32_t integer = 0;
    (void)TryStrToInt(text, integer);
    return 0;
}

// Reading and clearing the floating-point error flags.
#include "platform/FloatChecks.h"

#include <cfenv>

namespace {

constexpr int error_flags = FE_DIVBYZERO | FE_INVALID | FE_OVERFLOW;

} // namespace

FloatingPointError::FloatingPointError(const std::string &message, int raised)
    : std::runtime_error(message), flags(raised) {}

void ClearFloatErrors() { std::feclearexcept(error_flags); }

bool FloatErrorRaised() { return std::fetestexcept(error_flags) != 0; }

void CheckFloatErrors() {
    const int raised = std::fetestexcept(error_flags);
    if (raised == 0) {
        return;
    }
    std::feclearexcept(error_flags);
    if (raised & FE_DIVBYZERO) {
        throw FloatingPointError("Floating point division by zero", raised);
    }
    if (raised & FE_INVALID) {
        throw FloatingPointError("Invalid floating point operation", raised);
    }
    throw FloatingPointError("Floating point overflow", raised);
}

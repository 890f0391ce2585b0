// Proposing a result path from a station file's path.
#include "app/ResultPath.h"

namespace {

constexpr const char *result_suffix = "_res.dat";

} // namespace

std::string ProposeResultPath(const std::string &data_path) {
    const std::string::size_type slash = data_path.rfind('/');
    const std::string::size_type dot = data_path.rfind('.');
    const bool has_extension =
        dot != std::string::npos && (slash == std::string::npos || dot > slash);
    return (has_extension ? data_path.substr(0, dot) : data_path) +
           result_suffix;
}

// The error of a file that cannot be opened, read or written.
#pragma once

#include <stdexcept>
#include <string>

// The message names the path and the system's reason.
class FileError : public std::runtime_error {
  public:
    explicit FileError(const std::string &message)
        : std::runtime_error(message) {}
};

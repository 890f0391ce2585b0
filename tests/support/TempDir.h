// A temporary folder for a test's files, removed with everything in it.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>

class TempDir {
  public:
    TempDir() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "korvanel-test-XXXXXX")
                .string();
        if (mkdtemp(pattern.data()) == nullptr) {
            throw std::runtime_error("cannot make a temporary folder from " +
                                     pattern);
        }
        path_ = pattern;
    }
    ~TempDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;

    std::string File(const std::string &name) const {
        return (path_ / name).string();
    }

    // Writes `content` to the file `name` and returns its path.
    std::string Write(const std::string &name,
                      const std::string &content) const {
        const std::string file = File(name);
        std::ofstream(file, std::ios::binary) << content;
        return file;
    }

    static std::string Read(const std::string &file) {
        std::ifstream in(file, std::ios::binary);
        return {std::istreambuf_iterator<char>(in),
                std::istreambuf_iterator<char>()};
    }

  private:
    std::filesystem::path path_;
};

// Temporary files for tests.
#include "support/TempFile.h"

#include <cstdio>
#include <fstream>
#include <iterator>
#include <unistd.h>

#include <gtest/gtest.h>

TTempFile::TTempFile(const std::string &name) {
    static int serial = 0;
    path = testing::TempDir() + "korvanel_" + std::to_string(getpid()) + "_" +
           std::to_string(++serial) + "_" + name;
}

TTempFile::~TTempFile() { std::remove(path.c_str()); }

void TTempFile::Write(const std::string &bytes) const {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string TTempFile::Read() const {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in),
                       std::istreambuf_iterator<char>());
}

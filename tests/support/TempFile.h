// Small helpers for tests that need real files: unique paths under the test
// temporary folder, removed when the helper goes out of scope.
#pragma once

#include <string>

class TTempFile {
  public:
    // A fresh path; the file is not created until Write.
    explicit TTempFile(const std::string &name);
    ~TTempFile();
    TTempFile(const TTempFile &) = delete;
    TTempFile &operator=(const TTempFile &) = delete;

    // Replaces the file's content with bytes, exactly.
    void Write(const std::string &bytes) const;
    // The file's content, exactly; empty when it does not exist.
    std::string Read() const;
    const std::string &Path() const { return path; }

  private:
    std::string path;
};

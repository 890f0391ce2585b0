// Writing a file that replaces an earlier one only once it is complete: the
// bytes go to a temporary file beside it, which is renamed over it at the end,
// so that a run killed at any moment (even by SIGKILL or a power cut) leaves
// the earlier file as it was.
#pragma once

#include <cstdio>
#include <string>

class TFileReplacement {
  public:
    TFileReplacement() = default;
    TFileReplacement(const TFileReplacement &) = delete;
    TFileReplacement &operator=(const TFileReplacement &) = delete;
    // Abandons a file that was neither committed nor abandoned.
    ~TFileReplacement();

    // Creates the temporary file beside `target` (TemporaryName: the
    // target's name, ".part-", the process id and six characters), held for
    // removal should the process end by a signal. A target that exists and
    // is not a regular file (a device, a pipe) is written directly, and so is
    // an existing target in a folder that takes no new file. False, with the
    // system's error number in `error`, when nothing can be written.
    bool Begin(const std::string &target, int &error);
    // The open file; null before Begin and after the end.
    std::FILE *File() const { return file; }
    // Completes the file: flushes it to the disk, closes it and renames it
    // over the target (Finish, then Publish). Returns 0, or the system's
    // error number of the first failure, in which case the temporary file is
    // gone and the target is as it was.
    int Commit();
    // Flushes the file to the disk and closes it, leaving it beside the
    // target for Publish. Returns 0 or the system's error number, in which
    // case the temporary file is gone.
    int Finish();
    // Renames the finished file over the target. Returns 0 or the system's
    // error number (the temporary file is then removed).
    int Publish();
    // True between a successful Finish and Publish or Abandon.
    bool Finished() const { return finished; }
    // Closes and removes the temporary file (finished or not); the target
    // stays as it was. Never throws.
    void Abandon();

    const std::string &Target() const { return target; }
    // The file being written: the temporary one, or the target itself.
    const std::string &Writing() const { return writing; }

  private:
    std::FILE *file = nullptr;
    std::string target;
    std::string writing;
    bool direct = false;   // the target itself is being written
    bool finished = false; // closed, waiting for Publish
};

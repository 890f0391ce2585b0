// The temporary files a run writes beside its outputs: their names (which
// carry the writing process's id), a registry that a signal handler can empty
// without allocating, and the removal of those a dead run left behind.
#pragma once

#include <csignal>
#include <string>
#include <vector>

// The temporary name of `target` written by this process: the target's name
// followed by ".part-PID-" and `random_part` (six characters mkstemp fills),
// then `extension` (".gpkg" for a database that its library opens by name).
std::string TemporaryName(const std::string &target,
                          const std::string &extension = {});

// Holds `path` (and the files a database leaves beside it: "-journal",
// "-wal", "-shm") for removal when the process ends by a signal. False when
// the registry is full or the path too long; the file is then removed only by
// the code that made it.
bool RegisterTemporary(const std::string &path);
// Takes `path` out of the registry (renamed or removed by its writer).
void ForgetTemporary(const std::string &path);
// Removes `path` with its sidecars and takes it out of the registry.
void RemoveTemporary(const std::string &path);
// Removes every registered file. Safe inside a signal handler.
void RemoveRegisteredTemporaries() noexcept;

// Removes the temporary files beside `target` that a run left which no longer
// exists (its process is gone), with the files a database left beside them.
// Returns the names removed, to be told to the user.
std::vector<std::string> RemoveStaleTemporaries(const std::string &target);

// Signals that end the process: SIGTERM and SIGHUP remove the registered
// temporary files and end it with 128 + the signal. SIGINT does the same when
// `interrupt` is null; otherwise the first SIGINT calls `interrupt` (which
// must be async-signal-safe) and a second one ends the process as above.
void InstallTemporaryCleanup(void (*interrupt)() = nullptr);

// Holds SIGINT, SIGTERM and SIGHUP for its lifetime (on this thread), so that
// a set of renames is not cut in the middle; a signal that came meanwhile is
// handled when the object is destroyed.
class TSignalsHeld {
  public:
    TSignalsHeld();
    ~TSignalsHeld();
    TSignalsHeld(const TSignalsHeld &) = delete;
    TSignalsHeld &operator=(const TSignalsHeld &) = delete;

  private:
    sigset_t previous; // the mask before
};

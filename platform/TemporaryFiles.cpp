// Temporary files beside a run's outputs: names, the signal-safe registry and
// the removal of a dead run's leftovers.
#include "platform/TemporaryFiles.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <string_view>
#include <unistd.h>

namespace {

// Files a run writes at once: the outputs of one run, with room to spare.
constexpr int registry_slots = 32;
// The longest path held; a longer one is not registered.
constexpr size_t registry_path_room = 4096;
// What a database may leave beside its file while it is open.
constexpr const char *sidecar_suffixes[] = {"-journal", "-wal", "-shm"};
constexpr const char *part_marker = ".part-";
// The hidden form of a GeoPackage being written that runs of release 0.1
// left: ".NAME.PID.N.partial.gpkg".
constexpr const char *earlier_gpkg_suffix = ".partial.gpkg";

enum SlotState : int { slot_free = 0, slot_busy = 1, slot_held = 2 };

struct Slot {
    std::atomic<int> state{slot_free};
    char path[registry_path_room];
};
static_assert(std::atomic<int>::is_always_lock_free);

Slot registry[registry_slots];

// Removes `path` and the sidecars beside it; only calls that are safe in a
// signal handler.
void RemoveWithSidecars(const char *path) noexcept {
    ::unlink(path);
    char sidecar[registry_path_room + 16];
    const size_t length = std::strlen(path);
    for (const char *suffix : sidecar_suffixes) {
        const size_t extra = std::strlen(suffix);
        if (length + extra + 1 > sizeof sidecar) {
            continue;
        }
        std::memcpy(sidecar, path, length);
        std::memcpy(sidecar + length, suffix, extra + 1);
        ::unlink(sidecar);
    }
}

void (*interrupt_handler)() = nullptr;
std::atomic<bool> interrupted_once{false};

extern "C" void OnEndingSignal(int signal_number) {
    RemoveRegisteredTemporaries();
    constexpr char said[] = "\nEnded by a signal: the files being written "
                            "were removed, the earlier ones kept.\n";
    const ssize_t ignored = ::write(STDERR_FILENO, said, sizeof said - 1);
    (void)ignored;
    ::_exit(128 + signal_number);
}

extern "C" void OnInterruptSignal(int signal_number) {
    if (interrupt_handler != nullptr && !interrupted_once.exchange(true)) {
        interrupt_handler();
        return;
    }
    OnEndingSignal(signal_number);
}

// The process id a temporary name beside `name` carries, or 0 when `entry` is
// not such a name. Forms: "NAME.part-PID-XXXXXX[...]" and the earlier
// ".NAME.PID.N.partial.gpkg[-journal]".
long WriterOf(std::string_view entry, std::string_view name) {
    const auto digits = [](std::string_view text, size_t from, size_t &end) {
        long value = 0;
        end = from;
        while (end < text.size() && text[end] >= '0' && text[end] <= '9' &&
               value < 100000000) {
            value = value * 10 + (text[end] - '0');
            ++end;
        }
        return end > from ? value : 0L;
    };
    size_t end = 0;
    const std::string marker = std::string(name) + part_marker;
    if (entry.substr(0, marker.size()) == marker) {
        const long pid = digits(entry, marker.size(), end);
        return end < entry.size() && entry[end] == '-' ? pid : 0;
    }
    const std::string hidden = "." + std::string(name) + ".";
    if (entry.substr(0, hidden.size()) == hidden &&
        entry.find(earlier_gpkg_suffix) != std::string_view::npos) {
        const long pid = digits(entry, hidden.size(), end);
        return end < entry.size() && entry[end] == '.' ? pid : 0;
    }
    return 0;
}

// True when no process `pid` exists.
bool ProcessGone(long pid) {
    return ::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH;
}

} // namespace

std::string TemporaryName(const std::string &target,
                          const std::string &extension) {
    return target + part_marker + std::to_string(::getpid()) + "-XXXXXX" +
           extension;
}

bool RegisterTemporary(const std::string &path) {
    if (path.size() + 1 > registry_path_room) {
        return false;
    }
    for (Slot &slot : registry) {
        int expected = slot_free;
        if (slot.state.compare_exchange_strong(expected, slot_busy)) {
            std::memcpy(slot.path, path.c_str(), path.size() + 1);
            slot.state.store(slot_held);
            return true;
        }
    }
    return false;
}

void ForgetTemporary(const std::string &path) {
    for (Slot &slot : registry) {
        int expected = slot_held;
        if (slot.state.load() == slot_held && path == slot.path &&
            slot.state.compare_exchange_strong(expected, slot_busy)) {
            slot.state.store(slot_free);
            return;
        }
    }
}

void RemoveTemporary(const std::string &path) {
    RemoveWithSidecars(path.c_str());
    ForgetTemporary(path);
}

void RemoveRegisteredTemporaries() noexcept {
    for (Slot &slot : registry) {
        if (slot.state.load() == slot_held) {
            RemoveWithSidecars(slot.path);
        }
    }
}

std::vector<std::string> RemoveStaleTemporaries(const std::string &target) {
    namespace fs = std::filesystem;
    std::vector<std::string> removed;
    const fs::path path(target);
    const std::string name = path.filename().string();
    if (name.empty()) {
        return removed;
    }
    const fs::path folder =
        path.has_parent_path() ? path.parent_path() : fs::path(".");
    std::error_code error;
    fs::directory_iterator entries(folder, error);
    if (error) {
        return removed;
    }
    const long self = static_cast<long>(::getpid());
    for (const fs::directory_entry &entry : entries) {
        const std::string entry_name = entry.path().filename().string();
        const long pid = WriterOf(entry_name, name);
        if (pid <= 0 || pid == self || !ProcessGone(pid)) {
            continue;
        }
        std::error_code ignored;
        if (entry.is_regular_file(ignored) &&
            fs::remove(entry.path(), ignored)) {
            removed.push_back(path.has_parent_path() ? entry.path().string()
                                                     : entry_name);
        }
    }
    return removed;
}

void InstallTemporaryCleanup(void (*interrupt)()) {
    interrupt_handler = interrupt;
    interrupted_once.store(false);
    struct sigaction ending {};
    ending.sa_handler = OnEndingSignal;
    sigemptyset(&ending.sa_mask);
    sigaction(SIGTERM, &ending, nullptr);
    sigaction(SIGHUP, &ending, nullptr);
    struct sigaction interrupting {};
    interrupting.sa_handler = OnInterruptSignal;
    sigemptyset(&interrupting.sa_mask);
    sigaction(SIGINT, &interrupting, nullptr);
}

TSignalsHeld::TSignalsHeld() {
    sigset_t held;
    sigemptyset(&held);
    sigaddset(&held, SIGINT);
    sigaddset(&held, SIGTERM);
    sigaddset(&held, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &held, &previous);
}

TSignalsHeld::~TSignalsHeld() {
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
}

// Replacement of a file through a temporary file and a rename.
#include "platform/FileReplacement.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "platform/TemporaryFiles.h"

namespace {

constexpr mode_t new_file_mode = 0666; // narrowed by the process's umask

// The folder of `path`, for syncing the rename; "." for a bare name.
std::string FolderOf(const std::string &path) {
    const std::string::size_type slash = path.rfind('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

mode_t CurrentUmask() {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return mask;
}

} // namespace

TFileReplacement::~TFileReplacement() { Abandon(); }

bool TFileReplacement::Begin(const std::string &target_, int &error) {
    Abandon();
    target = target_;
    error = 0;
    struct stat status {};
    const bool exists = ::stat(target.c_str(), &status) == 0;
    if (target.empty()) {
        error = ENOENT;
        return false;
    }
    if (!exists || S_ISREG(status.st_mode)) {
        const std::string temporary = TemporaryName(target);
        std::vector<char> name(temporary.begin(), temporary.end());
        name.push_back('\0');
        const int descriptor = ::mkostemp(name.data(), O_CLOEXEC);
        if (descriptor >= 0) {
            // mkstemp makes the file private; a result is an ordinary file.
            ::fchmod(descriptor, new_file_mode & ~CurrentUmask());
            file = ::fdopen(descriptor, "wb");
            if (file == nullptr) {
                error = errno;
                ::close(descriptor);
                ::unlink(name.data());
                return false;
            }
            writing = name.data();
            direct = false;
            RegisterTemporary(writing);
            return true;
        }
        error = errno;
        // A folder that takes no new file may still hold a writable target.
        if (!exists || (error != EACCES && error != EPERM && error != EROFS)) {
            return false;
        }
    }
    file = std::fopen(target.c_str(), "wb");
    if (file == nullptr) {
        error = errno;
        return false;
    }
    error = 0;
    writing = target;
    direct = true;
    return true;
}

int TFileReplacement::Commit() {
    if (file == nullptr) {
        return 0;
    }
    const int error = Finish();
    return error != 0 ? error : Publish();
}

int TFileReplacement::Finish() {
    if (file == nullptr) {
        return 0;
    }
    int error = 0;
    if (std::fflush(file) != 0) {
        error = errno;
    }
    if (error == 0 && std::ferror(file)) {
        error = EIO;
    }
    // Only a regular file needs its bytes on the disk before the rename.
    if (error == 0 && !direct && ::fsync(::fileno(file)) != 0) {
        error = errno;
    }
    if (std::fclose(file) != 0 && error == 0) {
        error = errno;
    }
    file = nullptr;
    if (error != 0 && !direct) {
        ::unlink(writing.c_str());
        ForgetTemporary(writing);
    }
    finished = error == 0;
    return error;
}

int TFileReplacement::Publish() {
    if (!finished) {
        return 0;
    }
    finished = false;
    if (direct) {
        return 0;
    }
    int error = 0;
    if (::rename(writing.c_str(), target.c_str()) != 0) {
        error = errno;
        ::unlink(writing.c_str());
    }
    ForgetTemporary(writing);
    if (error != 0) {
        return error;
    }
    // The rename itself survives a power cut once the folder is synced.
    const int folder = ::open(FolderOf(target).c_str(), O_RDONLY | O_CLOEXEC);
    if (folder >= 0) {
        ::fsync(folder);
        ::close(folder);
    }
    return 0;
}

void TFileReplacement::Abandon() {
    if (file == nullptr && !finished) {
        return;
    }
    if (file != nullptr) {
        std::fclose(file);
        file = nullptr;
    }
    finished = false;
    if (!direct) {
        ::unlink(writing.c_str());
        ForgetTemporary(writing);
    }
}

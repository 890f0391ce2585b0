// The outputs of a run: path checks, temporary files and the publishing.
#include "platform/OutputSet.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

#include "platform/TemporaryFiles.h"

namespace {

namespace fs = std::filesystem;

// Links followed at most when resolving a path that does not exist yet.
constexpr int max_links = 40;

// What a path names: an existing file by device and inode, or a new path by
// its absolute form with every link of its existing part resolved.
struct FileIdentity {
    bool exists = false;
    bool regular = false;
    dev_t device = 0;
    ino_t inode = 0;
    fs::path lexical;
};

FileIdentity Identify(const std::string &path) {
    FileIdentity identity;
    struct stat status {};
    if (::stat(path.c_str(), &status) == 0) {
        identity.exists = true;
        identity.regular = S_ISREG(status.st_mode);
        identity.device = status.st_dev;
        identity.inode = status.st_ino;
        return identity;
    }
    // A link that points where nothing is yet names where its target will be.
    std::error_code error;
    fs::path where = fs::absolute(path, error);
    for (int k = 0; k < max_links && fs::is_symlink(where, error); ++k) {
        const fs::path target = fs::read_symlink(where, error);
        if (error) {
            break;
        }
        where = target.is_absolute() ? target : where.parent_path() / target;
    }
    identity.lexical = fs::weakly_canonical(where, error);
    if (error) {
        identity.lexical = where.lexically_normal();
    }
    return identity;
}

// True when output `path` would take another file's place: it is new, or a
// regular file (a device or a pipe is written in place and replaces nothing).
bool Replaces(const FileIdentity &identity) {
    return !identity.exists || identity.regular;
}

std::string Reason(int error) { return std::system_category().message(error); }

// Tries whether a new file can be made beside `target`, or the target itself
// written; 0 or the system's error number.
int TryWriting(const std::string &target) {
    std::string name = TemporaryName(target);
    const int descriptor = ::mkostemp(name.data(), O_CLOEXEC);
    if (descriptor >= 0) {
        ::close(descriptor);
        ::unlink(name.c_str());
        return 0;
    }
    const int error = errno;
    // A folder that takes no new file may still hold a writable target.
    if (::access(target.c_str(), W_OK) == 0) {
        return 0;
    }
    return error;
}

} // namespace

std::string OutputMessage(const OutputProblem &p) {
    switch (p.kind) {
    case OutputProblemKind::None:
        return {};
    case OutputProblemKind::SameFile:
        return p.other_option + " and " + p.option + " name the same file (" +
               p.other_path + " and " + p.path +
               "): one would replace the other. Choose another path for one "
               "of them.";
    case OutputProblemKind::SameAsInput:
        return p.option + " names the station file itself (" + p.path +
               ", given as " + p.other_option +
               "): writing it would replace the stations. Choose another "
               "path.";
    case OutputProblemKind::IsFolder:
        return p.option + " names a folder, not a file: " + p.path;
    case OutputProblemKind::NotSeekable:
        return p.option + " needs a regular file, and " + p.path +
               " is a device or a pipe.";
    case OutputProblemKind::CannotWrite:
        return "Cannot write " + p.path + " (" + p.option +
               "): " + Reason(p.error);
    }
    return {};
}

bool SameOutputFile(const std::string &a, const std::string &b) {
    if (a.empty() || b.empty() || a == "-" || b == "-") {
        return false;
    }
    const FileIdentity first = Identify(a);
    const FileIdentity second = Identify(b);
    if (!Replaces(first) || !Replaces(second)) {
        return false;
    }
    if (first.exists != second.exists) {
        return false;
    }
    if (first.exists) {
        return first.device == second.device && first.inode == second.inode;
    }
    return first.lexical == second.lexical;
}

void TOutputSet::SetInput(std::string option, std::string path) {
    input_option = std::move(option);
    input_path = std::move(path);
}

size_t TOutputSet::Add(std::string option, std::string path, OutputForm form) {
    Output output;
    output.option = std::move(option);
    output.path = std::move(path);
    output.form = form;
    outputs.push_back(std::move(output));
    return outputs.size() - 1;
}

size_t TOutputSet::Find(const std::string &option) const {
    for (size_t k = 0; k < outputs.size(); ++k) {
        if (outputs[k].option == option) {
            return k;
        }
    }
    return std::string::npos;
}

OutputProblem TOutputSet::CheckPaths() const {
    OutputProblem problem;
    for (size_t k = 0; k < outputs.size(); ++k) {
        const Output &output = outputs[k];
        problem.option = output.option;
        problem.path = output.path;
        if (!input_path.empty() && SameOutputFile(output.path, input_path)) {
            problem.kind = OutputProblemKind::SameAsInput;
            problem.other_option = input_option;
            problem.other_path = input_path;
            return problem;
        }
        for (size_t j = 0; j < k; ++j) {
            if (SameOutputFile(outputs[j].path, output.path)) {
                problem.kind = OutputProblemKind::SameFile;
                problem.other_option = outputs[j].option;
                problem.other_path = outputs[j].path;
                return problem;
            }
        }
        struct stat status {};
        if (::stat(output.path.c_str(), &status) == 0) {
            if (S_ISDIR(status.st_mode)) {
                problem.kind = OutputProblemKind::IsFolder;
                return problem;
            }
            if (output.form == OutputForm::Database &&
                !S_ISREG(status.st_mode)) {
                problem.kind = OutputProblemKind::NotSeekable;
                return problem;
            }
        }
    }
    return {};
}

std::vector<std::string> TOutputSet::RemoveStale() const {
    std::vector<std::string> removed;
    for (const Output &output : outputs) {
        for (std::string &name : RemoveStaleTemporaries(output.path)) {
            removed.push_back(std::move(name));
        }
    }
    return removed;
}

OutputProblem TOutputSet::BeginAll() {
    for (Output &output : outputs) {
        int error = 0;
        if (output.form == OutputForm::Text) {
            output.stream = std::make_unique<TFileReplacement>();
            if (output.stream->Begin(output.path, error)) {
                continue;
            }
        } else if ((error = TryWriting(output.path)) == 0) {
            continue;
        }
        Abandon();
        OutputProblem problem;
        problem.kind = OutputProblemKind::CannotWrite;
        problem.option = output.option;
        problem.path = output.path;
        problem.error = error;
        return problem;
    }
    return {};
}

std::string TOutputSet::DatabaseTemporary(size_t k) {
    Output &output = outputs[k];
    DropDatabase(output);
    // A unique name, reserved by making the file, then left for the
    // library to create: it refuses to create over a file.
    std::string name = TemporaryName(output.path, ".gpkg");
    const int suffix = 5; // ".gpkg" after the six characters mkstemps fills
    const int descriptor = ::mkostemps(name.data(), suffix, O_CLOEXEC);
    if (descriptor >= 0) {
        ::close(descriptor);
        ::unlink(name.c_str());
    }
    output.database = name;
    output.database_finished = false;
    RegisterTemporary(name);
    return name;
}

void TOutputSet::MarkFinished(size_t k) {
    Output &output = outputs[k];
    if (output.database.empty()) {
        return;
    }
    // The library closed the file; its bytes reach the disk before the
    // rename, as a stream's do.
    const int descriptor =
        ::open(output.database.c_str(), O_RDONLY | O_CLOEXEC);
    if (descriptor >= 0) {
        ::fsync(descriptor);
        ::close(descriptor);
    }
    output.database_finished = true;
}

bool TOutputSet::Finished(size_t k) const {
    const Output &output = outputs[k];
    return output.form == OutputForm::Text
               ? output.stream && output.stream->Finished()
               : output.database_finished;
}

OutputProblem TOutputSet::Publish() {
    const TSignalsHeld held;
    OutputProblem problem;
    for (Output &output : outputs) {
        int error = 0;
        if (!problem.ok()) {
            // After a failure the rest are dropped below.
        } else if (output.form == OutputForm::Text) {
            if (output.stream && output.stream->Finished()) {
                error = output.stream->Publish();
            }
        } else if (output.database_finished) {
            if (std::rename(output.database.c_str(), output.path.c_str()) !=
                0) {
                error = errno;
            } else {
                ForgetTemporary(output.database);
                output.database.clear();
                output.database_finished = false;
            }
        }
        if (error != 0) {
            problem.kind = OutputProblemKind::CannotWrite;
            problem.option = output.option;
            problem.path = output.path;
            problem.error = error;
        }
    }
    Abandon();
    return problem;
}

void TOutputSet::DropDatabase(Output &output) {
    if (output.database.empty()) {
        return;
    }
    RemoveTemporary(output.database);
    output.database.clear();
    output.database_finished = false;
}

void TOutputSet::Abandon() {
    for (Output &output : outputs) {
        if (output.stream) {
            output.stream->Abandon();
        }
        DropDatabase(output);
    }
}

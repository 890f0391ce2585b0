// The files one run writes, taken together: checked against each other and
// against the input before any work, written beside their targets, and put in
// place together at the end (or all dropped), so that a run never leaves a
// mix of new and earlier outputs that it did not mean to.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/FileReplacement.h"

// How an output is written.
enum class OutputForm {
    Text,     // a stream of bytes; a device or a pipe is written directly
    Database, // a file its library opens by name and seeks in (a GeoPackage):
              // only a regular file will do
};

// Why the outputs cannot be written as asked.
enum class OutputProblemKind {
    None,
    SameFile,    // two outputs name one file (other_*: the other output)
    SameAsInput, // an output names the input (other_*: the input)
    IsFolder,    // the path names a folder
    NotSeekable, // a database output names a device or a pipe
    CannotWrite, // the file or its folder cannot be written (error)
};

struct OutputProblem {
    OutputProblemKind kind = OutputProblemKind::None;
    std::string option, path;             // the output, as the user named it
    std::string other_option, other_path; // the output or input it meets
    int error = 0;                        // the system's error number

    bool ok() const { return kind == OutputProblemKind::None; }
    // A problem of the command line (exit status 2) rather than of the
    // system: two paths that meet, a folder or a device where a file is
    // needed.
    bool IsUsage() const {
        return kind != OutputProblemKind::None &&
               kind != OutputProblemKind::CannotWrite;
    }
};

// The one text the user reads for a problem.
std::string OutputMessage(const OutputProblem &problem);

// True when both paths name one file: the same file through "./", "..",
// symbolic links or hard links, or the same new path. Devices and pipes meet
// nothing (writing one twice loses no file).
bool SameOutputFile(const std::string &a, const std::string &b);

class TOutputSet {
  public:
    TOutputSet() = default;
    TOutputSet(const TOutputSet &) = delete;
    TOutputSet &operator=(const TOutputSet &) = delete;
    // Drops every output not yet published.
    ~TOutputSet() { Abandon(); }

    // The run's input ("-", empty: none to compare), named by its option.
    void SetInput(std::string option, std::string path);
    // Adds an output; returns its number. `option` names it in messages
    // ("-o", "--csv", ...).
    size_t Add(std::string option, std::string path, OutputForm form);
    // The number of the output added under `option`, or npos.
    size_t Find(const std::string &option) const;
    size_t Size() const { return outputs.size(); }
    const std::string &Path(size_t k) const { return outputs[k].path; }
    const std::string &Option(size_t k) const { return outputs[k].option; }

    // Before any work: every pair of outputs and each against the input, a
    // folder or (for a database) a device where a file is needed.
    OutputProblem CheckPaths() const;
    // Removes what runs that no longer exist left beside each target;
    // returns the files removed.
    std::vector<std::string> RemoveStale() const;
    // Starts every output: a text output's temporary file is created (or its
    // device opened), a database output's folder is tried with a file made
    // and removed there. The first output that cannot be written is the
    // problem; the others started are dropped again.
    OutputProblem BeginAll();

    // The started text output k; write it and Finish it.
    TFileReplacement &Stream(size_t k) { return *outputs[k].stream; }
    // A path beside database output k for its library to create (it does
    // not exist yet), removed with its sidecars if the run is dropped or the
    // process ends by a signal. Call MarkFinished once it is complete.
    std::string DatabaseTemporary(size_t k);
    void MarkFinished(size_t k);
    // True when output k is complete and waits to be published.
    bool Finished(size_t k) const;

    // Puts every finished output in its target's place, in the order they
    // were added, with the ending signals held; the unfinished ones are
    // dropped. The first failure is the problem; the outputs after it are
    // dropped too.
    OutputProblem Publish();
    // Drops every output: the targets stay as they were.
    void Abandon();

  private:
    struct Output {
        std::string option, path;
        OutputForm form = OutputForm::Text;
        std::unique_ptr<TFileReplacement> stream; // Text, once started
        std::string database;                     // Database's temporary
        bool database_finished = false;
    };
    // Removes database output's temporary file and its sidecars.
    static void DropDatabase(Output &output);

    std::string input_option, input_path;
    std::vector<Output> outputs;
};

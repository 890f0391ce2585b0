// The outputs of a run taken together: paths that meet, devices and folders
// where a file is needed, temporary files created, published together or
// dropped, removed by a signal, and a dead run's leftovers removed.
#include <algorithm>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include <gtest/gtest.h>

#include "platform/OutputSet.h"
#include "platform/TemporaryFiles.h"
#include "support/TempDir.h"

namespace {

namespace fs = std::filesystem;

// The names in `dir` other than those listed.
std::vector<std::string> Others(const TempDir &dir,
                                const std::vector<std::string> &known) {
    std::vector<std::string> others;
    for (const auto &entry : fs::directory_iterator(dir.File(""))) {
        const std::string name = entry.path().filename().string();
        if (std::find(known.begin(), known.end(), name) == known.end()) {
            others.push_back(name);
        }
    }
    return others;
}

// A process id that no process has (the highest a pid may be, beyond the
// system's limit).
constexpr long dead_pid = 4194305;

} // namespace

// 2026-12-10, issue 19: only the result and the table were compared, by path.
TEST(OutputSet, PathsMeetThroughDotsLinksAndHardLinks) {
    TempDir dir;
    const std::string file = dir.Write("r.dat", "x");
    fs::create_directory(dir.File("sub"));
    fs::create_symlink(file, dir.File("link.dat"));
    fs::create_symlink(dir.File("new.dat"), dir.File("dangling.dat"));
    fs::create_hard_link(file, dir.File("hard.dat"));
    struct Case {
        const char *name;
        std::string a, b;
        bool same;
    };
    const Case cases[] = {
        {"same text", file, file, true},
        {"through ./ and ..", file, dir.File("sub/.././r.dat"), true},
        {"a symbolic link", file, dir.File("link.dat"), true},
        {"a hard link", file, dir.File("hard.dat"), true},
        {"two spellings of a new file", dir.File("new.dat"),
         dir.File("sub/../new.dat"), true},
        {"a link to where a new file will be", dir.File("dangling.dat"),
         dir.File("new.dat"), true},
        {"different files", file, dir.File("other.dat"), false},
        {"a device twice", "/dev/null", "/dev/null", false},
        {"standard input", "-", "-", false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(SameOutputFile(c.a, c.b), c.same);
    }
}

TEST(OutputSet, ChecksEveryPairTheInputAndWhatAPathNames) {
    TempDir dir;
    const std::string input = dir.Write("in.png", "stations");
    fs::create_directory(dir.File("folder"));
    ASSERT_EQ(::mkfifo(dir.File("pipe").c_str(), 0600), 0);
    struct Output {
        const char *option;
        std::string path;
        OutputForm form;
    };
    struct Case {
        const char *name;
        std::vector<Output> outputs;
        OutputProblemKind kind;
        const char *option, *other;
    };
    const std::string r = dir.File("r.dat");
    const Case cases[] = {
        {"all apart",
         {{"-o", r, OutputForm::Text},
          {"--gpkg", dir.File("r.gpkg"), OutputForm::Database},
          {"--plot", dir.File("r.png"), OutputForm::Text}},
         OutputProblemKind::None,
         "",
         ""},
        {"result and GeoPackage",
         {{"--gpkg", dir.File("r.gpkg"), OutputForm::Database},
          {"-o", dir.File("r.gpkg"), OutputForm::Text}},
         OutputProblemKind::SameFile,
         "-o",
         "--gpkg"},
        {"table and picture",
         {{"--plot", dir.File("r.svg"), OutputForm::Text},
          {"--csv", dir.File("./r.svg"), OutputForm::Text}},
         OutputProblemKind::SameFile,
         "--csv",
         "--plot"},
        {"picture over the input",
         {{"--plot", input, OutputForm::Text}},
         OutputProblemKind::SameAsInput,
         "--plot",
         "STATIONS"},
        {"a folder",
         {{"--csv", dir.File("folder"), OutputForm::Text}},
         OutputProblemKind::IsFolder,
         "--csv",
         ""},
        {"a GeoPackage on a pipe",
         {{"--gpkg", dir.File("pipe"), OutputForm::Database}},
         OutputProblemKind::NotSeekable,
         "--gpkg",
         ""},
        {"a GeoPackage on a device",
         {{"--gpkg", "/dev/null", OutputForm::Database}},
         OutputProblemKind::NotSeekable,
         "--gpkg",
         ""},
        {"text on a pipe and a device",
         {{"-o", dir.File("pipe"), OutputForm::Text},
          {"--csv", "/dev/null", OutputForm::Text},
          {"--plot", "/dev/null", OutputForm::Text}},
         OutputProblemKind::None,
         "",
         ""},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        TOutputSet set;
        set.SetInput("STATIONS", input);
        for (const Output &output : c.outputs) {
            set.Add(output.option, output.path, output.form);
        }
        const OutputProblem problem = set.CheckPaths();
        EXPECT_EQ(problem.kind, c.kind);
        if (c.kind == OutputProblemKind::None) {
            continue;
        }
        EXPECT_TRUE(problem.IsUsage());
        EXPECT_EQ(problem.option, c.option);
        EXPECT_EQ(problem.other_option, c.other);
        // The message names both options.
        const std::string message = OutputMessage(problem);
        EXPECT_NE(message.find(c.option), std::string::npos) << message;
        EXPECT_NE(message.find(c.other), std::string::npos) << message;
    }
    EXPECT_EQ(TempDir::Read(input), "stations");
}

// 2026-12-10, issue 18: a table in a missing folder failed only after the
// whole run, naming a temporary file.
TEST(OutputSet, AnOutputThatCannotBeWrittenIsSaidBeforeAnyWork) {
    TempDir dir;
    TOutputSet set;
    set.Add("--gpkg", dir.File("r.gpkg"), OutputForm::Database);
    set.Add("-o", dir.File("r.dat"), OutputForm::Text);
    set.Add("--csv", dir.File("nosuch/q.csv"), OutputForm::Text);
    const OutputProblem problem = set.BeginAll();
    EXPECT_EQ(problem.kind, OutputProblemKind::CannotWrite);
    EXPECT_FALSE(problem.IsUsage());
    EXPECT_EQ(OutputMessage(problem),
              "Cannot write " + dir.File("nosuch/q.csv") +
                  " (--csv): No such file or directory");
    // The outputs begun before it are dropped again.
    EXPECT_EQ(Others(dir, {}), std::vector<std::string>{});
}

TEST(OutputSet, FinishedOutputsArePublishedTogetherOrDroppedTogether) {
    TempDir dir;
    dir.Write("r.dat", "earlier result");
    dir.Write("r.csv", "earlier table");
    const auto run = [&](bool publish, bool finish_table) {
        TOutputSet set;
        const size_t table =
            set.Add("--csv", dir.File("r.csv"), OutputForm::Text);
        const size_t gpkg =
            set.Add("--gpkg", dir.File("r.gpkg"), OutputForm::Database);
        const size_t result =
            set.Add("-o", dir.File("r.dat"), OutputForm::Text);
        EXPECT_TRUE(set.BeginAll().ok());
        std::fputs("new result", set.Stream(result).File());
        EXPECT_EQ(set.Stream(result).Finish(), 0);
        std::fputs("new table", set.Stream(table).File());
        if (finish_table) {
            EXPECT_EQ(set.Stream(table).Finish(), 0);
        }
        const std::string database = set.DatabaseTemporary(gpkg);
        EXPECT_FALSE(fs::exists(database)); // for its library to create
        std::ofstream(database) << "new database";
        set.MarkFinished(gpkg);
        // Nothing is in place before the set is published.
        EXPECT_EQ(TempDir::Read(dir.File("r.dat")), "earlier result");
        if (publish) {
            EXPECT_TRUE(set.Publish().ok());
        } else {
            set.Abandon();
        }
    };
    run(false, true);
    EXPECT_EQ(TempDir::Read(dir.File("r.dat")), "earlier result");
    EXPECT_EQ(TempDir::Read(dir.File("r.csv")), "earlier table");
    EXPECT_EQ(Others(dir, {"r.dat", "r.csv"}), std::vector<std::string>{});

    // An output left unfinished is dropped; the others take their place.
    run(true, false);
    EXPECT_EQ(TempDir::Read(dir.File("r.dat")), "new result");
    EXPECT_EQ(TempDir::Read(dir.File("r.csv")), "earlier table");
    EXPECT_EQ(TempDir::Read(dir.File("r.gpkg")), "new database");
    EXPECT_EQ(Others(dir, {"r.dat", "r.csv", "r.gpkg"}),
              std::vector<std::string>{});
}

// 2026-12-10, issue 19: a killed run's hidden GeoPackage and journal stayed
// for good.
TEST(OutputSet, TemporariesOfADeadRunAreRemovedAndALiveOnesKept) {
    TempDir dir;
    const std::string pid = std::to_string(::getpid());
    const std::string dead = std::to_string(dead_pid);
    const std::vector<std::string> stale = {
        "r.dat.part-" + dead + "-abcdef",
        "r.gpkg.part-" + dead + "-abcdef.gpkg",
        "r.gpkg.part-" + dead + "-abcdef.gpkg-journal",
        ".r.gpkg." + dead + ".0.partial.gpkg",
        ".r.gpkg." + dead + ".0.partial.gpkg-journal",
    };
    const std::vector<std::string> kept = {
        "r.dat",
        "r.dat.part-" + pid + "-abcdef",      // this process's own
        "r.dat.part-abcdef",                  // no process named
        "other.dat.part-" + dead + "-abcdef", // beside another target
        "r.dat.part-" + dead + "x",           // not the form
    };
    for (const std::string &name : stale) {
        dir.Write(name, "left");
    }
    for (const std::string &name : kept) {
        dir.Write(name, "kept");
    }
    TOutputSet set;
    set.Add("-o", dir.File("r.dat"), OutputForm::Text);
    set.Add("--gpkg", dir.File("r.gpkg"), OutputForm::Database);
    std::vector<std::string> removed = set.RemoveStale();
    std::sort(removed.begin(), removed.end());
    std::vector<std::string> expected;
    for (const std::string &name : stale) {
        expected.push_back(dir.File(name));
    }
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(removed, expected);
    std::vector<std::string> left = Others(dir, {});
    std::sort(left.begin(), left.end());
    std::vector<std::string> sorted_kept = kept;
    std::sort(sorted_kept.begin(), sorted_kept.end());
    EXPECT_EQ(left, sorted_kept);
}

// 2026-12-10, issue 19: a run ended by SIGTERM or SIGHUP left its temporary
// files behind.
TEST(OutputSet, AnEndingSignalRemovesTheTemporaryFiles) {
    for (const int signal_number : {SIGTERM, SIGHUP, SIGINT}) {
        SCOPED_TRACE(signal_number);
        TempDir dir;
        const std::string target = dir.Write("r.dat", "earlier");
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            InstallTemporaryCleanup();
            TOutputSet set;
            set.Add("-o", target, OutputForm::Text);
            set.Add("--gpkg", dir.File("r.gpkg"), OutputForm::Database);
            if (!set.BeginAll().ok()) {
                ::_exit(2);
            }
            const std::string database = set.DatabaseTemporary(1);
            std::ofstream(database) << "half";
            std::ofstream(database + "-journal") << "journal";
            ::raise(signal_number);
            ::_exit(3); // not reached
        }
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), 128 + signal_number);
        EXPECT_EQ(TempDir::Read(target), "earlier");
        EXPECT_EQ(Others(dir, {"r.dat"}), std::vector<std::string>{});
    }
}

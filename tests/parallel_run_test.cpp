// The Calc run with several jobs: the same result file, the same calls to the
// window, all from the run's own thread, and Stop as with one job.
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

#include <gtest/gtest.h>

#include "app/CalcRun.h"
#include "examples/SyntheticSurvey.h"
#include "support/FakeCalcHost.h"
#include "support/FieldRun.h"
#include "support/KriggingSetup.h"
#include "support/TempDir.h"

namespace {

// Records which threads the run called the window from.
class ThreadCheckingHost : public FakeCalcHost {
  public:
    void ShowMessage(const std::string &text) override {
        threads.push_back(std::this_thread::get_id());
        FakeCalcHost::ShowMessage(text);
    }
    void SetProgressMax(int32_t maximum) override {
        events_before_pass = events_processed;
        FakeCalcHost::SetProgressMax(maximum);
    }
    void StationDone(const StationOutcome &outcome) override {
        threads.push_back(std::this_thread::get_id());
        FakeCalcHost::StationDone(outcome);
        pass_events = events_processed - events_before_pass;
    }
    std::vector<std::thread::id> threads;
    // Events handled in the second pass, up to its last station: the ones
    // before and after it depend on how long the index and the checks take.
    int events_before_pass = 0;
    int pass_events = 0;
};

struct RunRecord {
    CalcResult result;
    std::string file;
    std::string table; // the companion table
    ThreadCheckingHost host;
    int32_t done = 0;
};

// A survey of a few hundred stations with blunders, a header line that is not
// a station, and a second station at an existing position.
std::string TestSurvey() {
    std::vector<SyntheticStation> stations =
        MakeSyntheticSurvey(320, 300.0, 11, 37);
    SyntheticStation twin = stations[40];
    twin.point = "TWIN";
    twin.value += 2.0;
    stations.push_back(twin);
    return "x y point h cba\n" + FormatSyntheticSurvey(stations);
}

void RunWithJobs(RunRecord &record, const TempDir &dir,
                 const std::string &stations, int32_t jobs, int stop_after = -1,
                 const char *cell_size = "200", int32_t batch_size = 4096) {
    record.host.fields[CalcField::Data] = dir.Write("survey.dat", stations);
    record.host.fields[CalcField::Output] = dir.File("survey_res.dat");
    record.host.fields[CalcField::CellSize] = cell_size;
    record.host.stop_after = stop_after;
    RunSettings settings;
    settings.jobs = jobs;
    settings.batch_size = batch_size;
    const RunOutcome outcome = RunFields(record.host, settings);
    record.result = outcome.result;
    record.done = static_cast<int32_t>(outcome.figures.read);
    record.file = TempDir::Read(dir.File("survey_res.dat"));
    record.table = TempDir::Read(dir.File("survey_res.csv"));
}

void ExpectSameRun(const RunRecord &one, const RunRecord &many) {
    EXPECT_EQ(many.result, one.result);
    EXPECT_EQ(many.done, one.done);
    EXPECT_EQ(many.file, one.file); // byte for byte
    EXPECT_EQ(many.table, one.table);
    EXPECT_EQ(many.host.outcome_names, one.host.outcome_names);
    EXPECT_EQ(many.host.progress_max, one.host.progress_max);
    EXPECT_EQ(many.host.progress_position, one.host.progress_position);
    EXPECT_EQ(many.host.pass_events, one.host.pass_events);
    EXPECT_EQ(many.host.messages, one.host.messages);
    for (const std::thread::id id : many.host.threads) {
        EXPECT_EQ(id, std::this_thread::get_id());
    }
}

} // namespace

TEST(ParallelRun, EveryNumberOfJobsWritesTheOneJobFile) {
    TempDir dir;
    const std::string stations = TestSurvey();
    RunRecord one;
    RunWithJobs(one, dir, stations, 1);
    ASSERT_EQ(one.result, CalcResult::Completed);
    ASSERT_EQ(one.done, 321);
    for (const int32_t jobs : {2, 3, 8}) {
        SCOPED_TRACE(jobs);
        RunRecord many;
        RunWithJobs(many, dir, stations, jobs);
        ExpectSameRun(one, many);
    }
    // Batch after batch, 321 = 3 x 107 ending on a batch's last station.
    for (const int32_t batch_size : {7, 107}) {
        SCOPED_TRACE("batches of " + std::to_string(batch_size));
        RunRecord many;
        RunWithJobs(many, dir, stations, 3, -1, "200", batch_size);
        ExpectSameRun(one, many);
    }
}

TEST(ParallelRun, StopEndsAfterTheSameStationAsWithOneJob) {
    TempDir dir;
    const std::string stations = TestSurvey();
    for (const int stop_after : {1, 57}) {
        SCOPED_TRACE(stop_after);
        RunRecord one, many, batches;
        RunWithJobs(one, dir, stations, 1, stop_after);
        RunWithJobs(many, dir, stations, 3, stop_after);
        RunWithJobs(batches, dir, stations, 3, stop_after, "200", 10);
        ASSERT_EQ(one.result, CalcResult::Stopped);
        EXPECT_EQ(one.done, stop_after);
        ExpectSameRun(one, many);
        ExpectSameRun(one, batches);
    }
}

TEST(ParallelRun, GridderMessagesReachTheWindowOnceFromTheRunsThread) {
    // Windows of 5 km with cells of 0.5 m need far more than 1024 nodes.
    TempDir dir;
    const std::string stations = TestSurvey();
    RunRecord one, many;
    RunWithJobs(one, dir, stations, 1, -1, "0.5");
    RunWithJobs(many, dir, stations, 4, -1, "0.5");
    // Once, after the run, naming the first station it hit and how many.
    const std::string first =
        MakeSyntheticSurvey(320, 300.0, 11, 37).front().point;
    EXPECT_EQ(many.host.messages,
              std::vector<std::string>{
                  "Number of grid points exceeded 1024 in X-direction. First "
                  "at station " +
                  first + " (line 2); 321 stations."});
    EXPECT_EQ(one.host.messages, many.host.messages);
    ExpectSameRun(one, many);
}

TEST(ParallelRun, WriteErrorEndsTheRunWithItsWorkers) {
    if (access("/dev/full", W_OK) != 0) {
        GTEST_SKIP() << "no /dev/full";
    }
    TempDir dir;
    const std::string stations = dir.Write("survey.dat", TestSurvey());
    for (const int32_t jobs : {1, 3}) {
        SCOPED_TRACE(jobs);
        ThreadCheckingHost host;
        host.fields[CalcField::Data] = stations;
        host.fields[CalcField::Output] = "/dev/full";
        RunSettings settings;
        settings.jobs = jobs;
        EXPECT_EQ(RunFields(host, settings).result, CalcResult::Failed);
        ASSERT_EQ(host.errors.size(), 1u);
        EXPECT_NE(host.errors[0].find("/dev/full"), std::string::npos);
        ASSERT_FALSE(host.running_states.empty());
        EXPECT_FALSE(host.running_states.back());
    }
}

// 2026-12-10, issue 20: a run quieted the gridder by swapping the process's
// message handler, so a second run at the same time could see the first's
// boxes, or lose its own quiet.
TEST(ParallelRun, TwoRunsAtOnceKeepTheirOwnGridderMessages) {
    TempDir dir;
    // Windows of 5 km on cells of half a metre: too many columns.
    std::string wide;
    for (int k = 0; k < 30; ++k) {
        wide += std::to_string(500000 + 100 * (k % 10)) + " " +
                std::to_string(5500000 + 100 * (k / 10)) + " W" +
                std::to_string(k + 1) + " 1 " + std::to_string(k % 3) + "\n";
    }
    // A strip one metre wide on cells of a metre: too many rows.
    std::string tall;
    for (int k = 0; k < 30; ++k) {
        tall += std::to_string(600000 + k % 2) + " " +
                std::to_string(5500000 + 100 * k) + " T" +
                std::to_string(k + 1) + " 1 " + std::to_string(k % 3) + "\n";
    }
    struct Side {
        ThreadCheckingHost host;
        CalcResult result = CalcResult::Failed;
    } x_side, y_side;
    const auto prepare = [&](Side &side, const std::string &name,
                             const std::string &stations, const char *cell) {
        side.host.fields[CalcField::Data] = dir.Write(name + ".dat", stations);
        side.host.fields[CalcField::Output] = dir.File(name + "_res.dat");
        side.host.fields[CalcField::CellSize] = cell;
    };
    prepare(x_side, "wide", wide, "0.5");
    prepare(y_side, "tall", tall, "1");
    MessageCapture boxes; // what would reach the user's message boxes
    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE(round);
        x_side.host.messages.clear();
        y_side.host.messages.clear();
        std::thread first(
            [&] { x_side.result = RunFields(x_side.host).result; });
        std::thread second(
            [&] { y_side.result = RunFields(y_side.host).result; });
        first.join();
        second.join();
        EXPECT_EQ(x_side.result, CalcResult::Completed);
        EXPECT_EQ(y_side.result, CalcResult::Completed);
        EXPECT_EQ(x_side.host.messages,
                  std::vector<std::string>{
                      "Number of grid points exceeded 1024 in X-direction. "
                      "First at station W1 (line 1); 30 stations."});
        EXPECT_EQ(y_side.host.messages,
                  std::vector<std::string>{
                      "Number of grid points exceeded 1024 in Y-direction. "
                      "First at station T1 (line 1); 30 stations."});
    }
    EXPECT_TRUE(boxes.shown.empty());
}

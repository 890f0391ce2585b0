// The Calc run with several jobs: the same result file, the same calls to the
// window, all from the run's own thread, and Stop as with one job.
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

#include <gtest/gtest.h>

#include "app/CalcRun.h"
#include "examples/SyntheticSurvey.h"
#include "store/CppSQLite3.h"
#include "support/FakeCalcHost.h"
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
    CppSQLite3DB db;
    TCalcRun run(record.host, db);
    run.jobs = jobs;
    run.batch_size = batch_size;
    record.result = run.Run();
    record.done = run.done;
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
        CppSQLite3DB db;
        TCalcRun run(host, db);
        run.jobs = jobs;
        EXPECT_EQ(run.Run(), CalcResult::Failed);
        ASSERT_EQ(host.errors.size(), 1u);
        EXPECT_NE(host.errors[0].find("/dev/full"), std::string::npos);
        EXPECT_FALSE(db.IsOpen());
        ASSERT_FALSE(host.running_states.empty());
        EXPECT_FALSE(host.running_states.back());
    }
}

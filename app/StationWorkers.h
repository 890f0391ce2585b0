// The second pass on several threads: worker threads estimate the stations of
// a batch, all through one shared window index of the point table, while the
// caller's thread takes the results back in station order (and alone talks to
// the window).
#pragma once

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "app/StationFile.h"
#include "estimate/StationEstimate.h"
#include "store/CppSQLite3.h"
#include "store/PointTable.h"

class TStationWorkers {
  public:
    // Reads the loaded point table of `loaded` once into a window index that
    // every worker shares (on the caller's thread), gives each worker window
    // queries of its own over it, throwing the first error
    // (CppSQLite3Exception, bad_alloc); then starts `jobs` threads (at least
    // one). `loaded` must stay open until the workers are destroyed.
    TStationWorkers(CppSQLite3DB &loaded, int32_t jobs,
                    const StationSettings &settings);
    // Lets the stations in hand finish and joins the threads; the workers'
    // window queries and the shared index go with them.
    ~TStationWorkers();
    TStationWorkers(const TStationWorkers &) = delete;
    TStationWorkers &operator=(const TStationWorkers &) = delete;

    // Hands the workers a batch of stations, which must stay unchanged until
    // the batch is done or cancelled. Waits for the stations in hand of the
    // previous batch first.
    void Start(const std::vector<Station> &batch);
    // The estimate of entry k of the batch, once it is ready (waits for it).
    // Valid until the next Start.
    const StationEstimate &Result(size_t k);
    // Stops handing out the batch's stations and waits for those in hand.
    void Cancel();
    // A window index of the loaded table, for the caller's thread to use
    // while no batch is in hand.
    TPointWindows &Index() { return *windows.front(); }
    // TPointIndex::AssignHeight on the shared index; before the first batch.
    void AssignHeight(double x, double y, double h) {
        index->AssignHeight(x, y, h);
    }
    // TPointIndex::ShiftValue on the shared index; while no batch is in hand.
    void ShiftValue(double x, double y, double delta) {
        index->ShiftValue(x, y, delta);
    }

  private:
    void Work(TPointWindows &windows);
    // Ends and joins the workers; the stations in hand finish first.
    void Stop();

    StationSettings settings;
    // The point table read once; only read by the workers.
    std::unique_ptr<TPointIndex> index;
    // Each worker's window queries over it (a statement and scratch of its
    // own); released before the index.
    std::vector<std::unique_ptr<TPointWindows>> windows;
    std::vector<std::thread> threads;

    // Guarded by `mutex`: the batch, its results and the hand-out position.
    std::mutex mutex;
    std::condition_variable work_ready;  // a station to take, or quitting
    std::condition_variable result_made; // a result is ready, or a worker idle
    const std::vector<Station> *batch = nullptr;
    std::vector<StationEstimate> results;
    std::vector<char> ready; // 1 once results[k] is final
    size_t batch_size = 0;   // its stations; the caller refills the vector
                             // once the batch is done, without the lock
    size_t next = 0;         // first station of the batch not yet taken
    int32_t in_hand = 0;     // stations being estimated now
    bool cancelled = false;
    bool quitting = false;
};

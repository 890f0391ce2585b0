// Worker threads of the second pass and the hand-over of their results.
#include "app/StationWorkers.h"

#include "estimate/StationEstimate.h"

TStationWorkers::TStationWorkers(CppSQLite3DB &loaded, int32_t jobs,
                                 const StationSettings &settings_)
    : settings(settings_) {
    const int32_t count = jobs < 1 ? 1 : jobs;
    // The index and every worker's queries exist before any worker starts,
    // so a failure leaves no worker to join.
    index = std::make_unique<TPointIndex>(loaded);
    for (int32_t k = 0; k < count; ++k) {
        windows.push_back(std::make_unique<TPointWindows>(*index));
    }
    try {
        for (auto &queries : windows) {
            threads.emplace_back([this, w = queries.get()] { Work(*w); });
        }
    } catch (...) {
        // A thread the system would not start: the started ones end first.
        Stop();
        throw;
    }
}

void TStationWorkers::Stop() {
    {
        std::lock_guard lock(mutex);
        quitting = true;
        cancelled = true;
    }
    work_ready.notify_all();
    for (std::thread &thread : threads) {
        thread.join();
    }
    threads.clear();
}

TStationWorkers::~TStationWorkers() { Stop(); }

void TStationWorkers::Start(const std::vector<Station> &stations) {
    std::unique_lock lock(mutex);
    result_made.wait(lock, [this] { return in_hand == 0; });
    batch = &stations;
    batch_size = stations.size();
    results.assign(stations.size(), StationEstimate{});
    ready.assign(stations.size(), 0);
    next = 0;
    cancelled = false;
    lock.unlock();
    work_ready.notify_all();
}

const StationEstimate &TStationWorkers::Result(size_t k) {
    std::unique_lock lock(mutex);
    result_made.wait(lock, [this, k] { return ready[k] != 0; });
    return results[k];
}

void TStationWorkers::Cancel() {
    std::unique_lock lock(mutex);
    cancelled = true;
    result_made.wait(lock, [this] { return in_hand == 0; });
}

void TStationWorkers::Work(TPointWindows &queries) {
    std::unique_lock lock(mutex);
    for (;;) {
        work_ready.wait(lock, [this] {
            return quitting ||
                   (!cancelled && batch != nullptr && next < batch_size);
        });
        if (quitting) {
            return;
        }
        const size_t k = next++;
        const Station &station = (*batch)[k];
        ++in_hand;
        lock.unlock();

        // Exactly what the sequential pass does for one station; the
        // estimator catches every error of its own.
        StationEstimate result =
            EstimateStation(queries, {station.x, station.y}, settings);

        lock.lock();
        results[k] = std::move(result);
        ready[k] = 1;
        --in_hand;
        result_made.notify_all();
    }
}

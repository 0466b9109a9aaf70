#pragma once

#include <algorithm>
#include <atomic>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

// Runs work(slice, worker) once for every slice 0 .. slices-1, on up to
// `threads` workers (the calling thread is worker 0), handing out slices in
// ascending order as workers come free. Which worker runs which slice
// depends on timing, so a caller keeps per-worker results that it combines
// in an order of its own (whole counts, or values written to places of their
// own). The first exception a worker throws is thrown again here, after every
// worker has stopped. Threads that cannot be started are done without: the
// calling thread and those started run every slice.
template <typename Work>
void runSlices(int threads, int slices, Work work) {
    const int workers = std::max(1, std::min(threads, slices));
    if (workers == 1) {
        for (int slice = 0; slice < slices; ++slice) work(slice, 0);
        return;
    }
    std::atomic<int> next{0};
    std::exception_ptr failure;
    std::mutex failureLock;
    auto run = [&](int worker) {
        try {
            for (int slice = next++; slice < slices; slice = next++) work(slice, worker);
        } catch (...) {
            const std::lock_guard<std::mutex> hold(failureLock);
            if (!failure) failure = std::current_exception();
            next = slices;
        }
    };
    // A thread that cannot be started (no memory for its stack, a limit on
    // processes) leaves the work to those that were: slices are handed out
    // as workers come free, so every slice still runs, and no result
    // depends on which worker ran it.
    std::vector<std::thread> started;
    for (int worker = 1; worker < workers; ++worker) {
        try {
            started.emplace_back(run, worker);
        } catch (...) {
            break;
        }
    }
    run(0);
    for (std::thread& thread : started) thread.join();
    if (failure) std::rethrow_exception(failure);
}

#pragma once

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

// Threads kept for runSlices from one call to the next. Starting and
// joining threads for every call cost about 70 microseconds on two threads,
// as much as the work of one merge step of a criterion at thousands of
// segments or of one round of a descent's looks, which come thousands of
// times a run. The threads wait a little for the next call, then sleep.
//
// One call at a time has the threads, and no more of them than the
// machine has cores: a call made while they serve another (a slice that
// itself shares its work, or a second thread calling), or one for more
// workers than cores, is told so and starts threads of its own.
class KeptThreads {
public:
    // Runs body(worker) on workers 0 .. workers-1, worker 0 on the calling
    // thread, and returns when all have returned; false, without running
    // anything, when the threads serve another call. Fewer workers run when
    // a thread cannot be started. The body must not throw.
    static bool run(int workers, const std::function<void(int)>& body);

private:
    KeptThreads() = default;
    ~KeptThreads();
    static KeptThreads& instance();
    bool serveCall(int workers, const std::function<void(int)>& body);
    void serve(int helper);

    std::atomic<bool> taken_{false};
    std::vector<std::thread> helpers_;  // worker k is helper k - 1
    const std::function<void(int)>* body_ = nullptr;
    int helping_ = 0;  // helpers that run the current body
    std::atomic<unsigned> generation_{0};
    std::atomic<int> running_{0};
    bool stopping_ = false;
    std::mutex lock_;
    std::condition_variable wake_, done_;
};

// Lowers `least` to `value` when it holds more, other threads lowering it
// at the same time: it ends at the least of all values given.
inline void lowerTo(std::atomic<std::size_t>& least, std::size_t value) {
    for (std::size_t held = least.load(); value < held && !least.compare_exchange_weak(held, value);) {
    }
}

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
    const std::function<void(int)> run = [&](int worker) {
        try {
            for (int slice = next++; slice < slices; slice = next++) work(slice, worker);
        } catch (...) {
            const std::lock_guard<std::mutex> hold(failureLock);
            if (!failure) failure = std::current_exception();
            next = slices;
        }
    };
    if (!KeptThreads::run(workers, run)) {
        // A thread that cannot be started (no memory for its stack, a limit
        // on processes) leaves the work to those that were: slices are
        // handed out as workers come free, so every slice still runs, and
        // no result depends on which worker ran it.
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
    }
    if (failure) std::rethrow_exception(failure);
}

#pragma once

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

// Threads that run one piece of work over a fixed number of slices, again
// and again, many thousand times a second: the likelihood's operations over
// slices of the alignment's patterns. Slice s always runs on thread
// s % threads (the calling thread is thread 0), and run() returns when every
// slice is done, so what each slice computes never depends on the number of
// threads. Waiting threads spin a little before they sleep, since the next
// piece of work usually follows within microseconds.
class SliceTeam {
public:
    SliceTeam(int threads, int slices);
    ~SliceTeam();
    SliceTeam(const SliceTeam&) = delete;
    SliceTeam& operator=(const SliceTeam&) = delete;

    int slices() const { return slices_; }
    // Runs work(slice) for every slice. The work must not throw.
    void run(const std::function<void(int)>& work);

private:
    void serve(int thread);

    int slices_;
    int threads_;  // the calling thread and those started
    std::vector<std::thread> started_;
    const std::function<void(int)>* work_ = nullptr;
    std::atomic<unsigned> generation_{0};
    std::atomic<int> busy_{0};
    std::atomic<bool> stopping_{false};
    std::mutex lock_;
    std::condition_variable wake_;
};

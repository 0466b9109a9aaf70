#include "likelihood/SliceTeam.h"

#include <algorithm>

namespace {

// Spins before a waiting thread sleeps: about the time of a few of the
// likelihood's smallest operations.
constexpr int kSpins = 20000;

}  // namespace

SliceTeam::SliceTeam(int threads, int slices) : slices_(std::max(1, slices)) {
    threads_ = std::max(1, std::min(threads, slices_));
    // A thread that cannot be started leaves its slices to thread 0's
    // stride: fewer threads, the same slices.
    for (int t = 1; t < threads_; ++t) {
        try {
            started_.emplace_back(&SliceTeam::serve, this, t);
        } catch (...) {
            break;
        }
    }
    threads_ = 1 + static_cast<int>(started_.size());
}

SliceTeam::~SliceTeam() {
    {
        const std::lock_guard<std::mutex> hold(lock_);
        stopping_ = true;
        ++generation_;
    }
    wake_.notify_all();
    for (std::thread& thread : started_) thread.join();
}

void SliceTeam::run(const std::function<void(int)>& work) {
    if (threads_ == 1) {
        for (int s = 0; s < slices_; ++s) work(s);
        return;
    }
    work_ = &work;
    busy_.store(threads_ - 1, std::memory_order_relaxed);
    {
        const std::lock_guard<std::mutex> hold(lock_);
        generation_.fetch_add(1, std::memory_order_release);
    }
    wake_.notify_all();
    for (int s = 0; s < slices_; s += threads_) work(s);
    for (int spin = 0; busy_.load(std::memory_order_acquire) != 0; ++spin)
        if (spin > kSpins) std::this_thread::yield();
}

void SliceTeam::serve(int thread) {
    unsigned seen = 0;
    for (;;) {
        int spin = 0;
        while (generation_.load(std::memory_order_acquire) == seen && spin < kSpins) ++spin;
        if (generation_.load(std::memory_order_acquire) == seen) {
            std::unique_lock<std::mutex> hold(lock_);
            wake_.wait(hold, [&] { return generation_.load(std::memory_order_acquire) != seen; });
        }
        seen = generation_.load(std::memory_order_acquire);
        if (stopping_) return;
        for (int s = thread; s < slices_; s += threads_) (*work_)(s);
        busy_.fetch_sub(1, std::memory_order_acq_rel);
    }
}

#include "common/Parallel.h"

namespace {

// Spins before a waiting thread sleeps: a few tens of microseconds, about
// the sequential work between two calls of a criterion's merge steps or of
// a descent's rounds of looks.
constexpr int kSpins = 20000;

}  // namespace

KeptThreads& KeptThreads::instance() {
    static KeptThreads threads;
    return threads;
}

KeptThreads::~KeptThreads() {
    {
        const std::lock_guard<std::mutex> hold(lock_);
        stopping_ = true;
        generation_.fetch_add(1, std::memory_order_release);
    }
    wake_.notify_all();
    for (std::thread& helper : helpers_) helper.join();
}

bool KeptThreads::run(int workers, const std::function<void(int)>& body) {
    // No more threads are kept than the machine has cores: each holds its
    // stack for the rest of the run, and more would only take turns. A call
    // for more starts threads of its own and ends them.
    static const int mostWorkers = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
    if (workers > mostWorkers) return false;
    KeptThreads& threads = instance();
    bool expected = false;
    if (!threads.taken_.compare_exchange_strong(expected, true, std::memory_order_acquire)) return false;
    const bool served = threads.serveCall(workers, body);
    threads.taken_.store(false, std::memory_order_release);
    return served;
}

bool KeptThreads::serveCall(int workers, const std::function<void(int)>& body) {
    while (static_cast<int>(helpers_.size()) < workers - 1) {
        try {
            helpers_.emplace_back(&KeptThreads::serve, this, static_cast<int>(helpers_.size()));
        } catch (...) {
            break;
        }
    }
    const int helping = std::min(workers - 1, static_cast<int>(helpers_.size()));
    {
        const std::lock_guard<std::mutex> hold(lock_);
        body_ = &body;
        helping_ = helping;
        running_.store(helping, std::memory_order_relaxed);
        generation_.fetch_add(1, std::memory_order_release);
    }
    wake_.notify_all();
    body(0);
    for (int spin = 0; running_.load(std::memory_order_acquire) != 0; ++spin) {
        if (spin < kSpins) continue;
        std::unique_lock<std::mutex> hold(lock_);
        done_.wait(hold, [&] { return running_.load(std::memory_order_acquire) == 0; });
        break;
    }
    return true;
}

void KeptThreads::serve(int helper) {
    unsigned seen = 0;
    for (;;) {
        for (int spin = 0; spin < kSpins && generation_.load(std::memory_order_acquire) == seen; ++spin) {
        }
        const std::function<void(int)>* body = nullptr;
        {
            std::unique_lock<std::mutex> hold(lock_);
            wake_.wait(hold, [&] { return generation_.load(std::memory_order_acquire) != seen; });
            seen = generation_.load(std::memory_order_acquire);
            if (stopping_) return;
            if (helper < helping_) body = body_;
        }
        if (body == nullptr) continue;
        (*body)(helper + 1);
        if (running_.fetch_sub(1, std::memory_order_acq_rel) == 1) {
            const std::lock_guard<std::mutex> hold(lock_);
            done_.notify_one();
        }
    }
}

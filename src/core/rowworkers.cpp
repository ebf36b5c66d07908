#include "core/rowworkers.h"

#include <algorithm>
#include <chrono>
#include <memory>
#include <system_error>

#ifdef __linux__
#include <sched.h>
#endif

namespace {

constexpr auto kSpin = std::chrono::microseconds(300);

inline void Pause() {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#endif
}

// The processors this process may run on (a process pinned to a few cores
// gains nothing from more threads than those).
int32_t UsableProcessors() {
    int32_t n = static_cast<int32_t>(std::thread::hardware_concurrency());
#ifdef __linux__
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof set, &set) == 0) n = n > 0 ? std::min(n, CPU_COUNT(&set)) : CPU_COUNT(&set);
#endif
    return std::max(n, 1);
}

}  // namespace

qbRowWorkers::qbRowWorkers(int32_t shares) {
    if (shares <= 0) shares = UsableProcessors();
    shares = std::clamp(shares, 1, kMaxShares);
    try {
        threads_.reserve(static_cast<size_t>(shares - 1));
        for (int32_t i = 1; i < shares; ++i) threads_.emplace_back([this, i] { WorkerLoop(i); });
    } catch (const std::exception&) {
        // Fewer threads than asked for (or none) still do every job.
    }
}

qbRowWorkers::~qbRowWorkers() {
    {
        std::lock_guard<std::mutex> hold(mutex_);
        stop_ = true;
    }
    wake_.notify_all();
    for (std::thread& t : threads_) t.join();
}

void qbRowWorkers::RunBands(int32_t rows, int32_t chunk, Body body, const void* data) {
    if (rows <= 0) return;
    chunk = std::max(chunk, 1);
    const int32_t chunks = static_cast<int32_t>((int64_t{rows} + chunk - 1) / chunk);
    if (threads_.empty() || chunks == 1) {
        for (int32_t from = 0; from < rows; from += chunk) body(data, 0, from, std::min(rows, from + chunk));
        return;
    }
    Job job;
    {
        std::lock_guard<std::mutex> hold(mutex_);
        job = {body, data, rows, chunk, chunks, job_.generation + 1};
        job_ = job;
        done_.store(0, std::memory_order_relaxed);
        next_.store(uint64_t{job.generation} << 32, std::memory_order_release);
    }
    wake_.notify_all();
    TakeChunks(job, 0);
    // The last chunks are usually a fraction of a millisecond from done: a
    // thread that slept through them may wait for a processor far longer
    // on a busy machine, so the caller spins a while before it sleeps.
    const auto spinUntil = std::chrono::steady_clock::now() + kSpin;
    for (int i = 1; done_.load(std::memory_order_acquire) != chunks; ++i) {
        Pause();
        if (i % 64 == 0 && std::chrono::steady_clock::now() > spinUntil) break;
    }
    std::unique_lock<std::mutex> hold(mutex_);
    finished_.wait(hold, [&] { return done_.load(std::memory_order_acquire) == chunks; });
}

void qbRowWorkers::TakeChunks(const Job& job, int32_t share) {
    for (;;) {
        uint64_t at = next_.load(std::memory_order_acquire);
        do {
            if (static_cast<uint32_t>(at >> 32) != job.generation || static_cast<int32_t>(at & 0xFFFFFFFFu) >= job.chunks)
                return;
        } while (!next_.compare_exchange_weak(at, at + 1, std::memory_order_acq_rel));
        const int32_t from = static_cast<int32_t>(at & 0xFFFFFFFFu) * job.chunk;
        job.body(job.data, share, from, std::min(job.rows, from + job.chunk));
        if (done_.fetch_add(1, std::memory_order_acq_rel) + 1 == job.chunks) {
            std::lock_guard<std::mutex> hold(mutex_);
            finished_.notify_one();
        }
    }
}

void qbRowWorkers::WorkerLoop(int32_t share) {
    uint32_t seen = 0;
    for (;;) {
        Job job;
        {
            std::unique_lock<std::mutex> hold(mutex_);
            wake_.wait(hold, [&] { return stop_ || job_.generation != seen; });
            if (stop_) return;
            job = job_;
            seen = job.generation;
        }
        TakeChunks(job, share);
    }
}

qbRowWorkers* AllocRowWorkers(int32_t shares) {
    try {
        return std::make_unique<qbRowWorkers>(shares).release();
    } catch (const std::exception&) {
        return nullptr;
    }
}

void FreeRowWorkers(qbRowWorkers* workers) { std::unique_ptr<qbRowWorkers>{workers}; }

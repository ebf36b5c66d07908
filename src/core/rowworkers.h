// A small set of threads that share the rows of one picture operation with
// the thread that asks for it. Its owner (an effect's record, a benchmark)
// makes it once and keeps it for many frames, so a frame pays for waking
// the threads, not for starting them. The rows go out in chunks that any
// share takes as it gets to them: a thread the system has not run yet does
// not hold up the frame, the caller takes its chunks.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

class qbRowWorkers {
public:
    // shares: the threads at work on a job, the caller included; 0 takes
    // one per processor (up to kMaxShares). One share starts no thread.
    explicit qbRowWorkers(int32_t shares = 0);
    ~qbRowWorkers();
    qbRowWorkers(const qbRowWorkers&) = delete;
    qbRowWorkers& operator=(const qbRowWorkers&) = delete;

    static constexpr int32_t kMaxShares = 8;

    // The shares a job may be split into; a job's share index is below it.
    int32_t Shares() const { return static_cast<int32_t>(threads_.size()) + 1; }

    // Calls job(share, from, to) for consecutive bands of rows covering
    // 0 .. rows - 1, chunk rows each (the last fewer), on this thread and
    // the workers, no two at once with the same share index. Returns when
    // every band is done. One caller at a time; the job must not throw.
    template <class Job>
    void Run(int32_t rows, int32_t chunk, const Job& job) {
        RunBands(
            rows, chunk,
            [](const void* j, int32_t share, int32_t from, int32_t to) {
                (*static_cast<const Job*>(j))(share, from, to);
            },
            &job);
    }

private:
    using Body = void (*)(const void* job, int32_t share, int32_t from, int32_t to);
    struct Job {
        Body body = nullptr;
        const void* data = nullptr;
        int32_t rows = 0, chunk = 1, chunks = 0;
        uint32_t generation = 0;
    };
    void RunBands(int32_t rows, int32_t chunk, Body body, const void* data);
    void WorkerLoop(int32_t share);
    // Takes and does the job's chunks until none is left.
    void TakeChunks(const Job& job, int32_t share);

    std::vector<std::thread> threads_;
    std::mutex mutex_;
    std::condition_variable wake_, finished_;
    // Guarded by mutex_: the job the workers are to join.
    Job job_;
    bool stop_ = false;
    // The generation in the upper half and the next chunk in the lower, so
    // that a worker that wakes after its job ended takes nothing of the next.
    std::atomic<uint64_t> next_{0};
    std::atomic<int32_t> done_{0};
};

// For records that hold their parts by pointer: null when even the record
// could not be made (its owner then works on one thread); Free takes a null.
qbRowWorkers* AllocRowWorkers(int32_t shares = 0);
void FreeRowWorkers(qbRowWorkers* workers);

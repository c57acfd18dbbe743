// Threads kept from one call to the next, for work that comes in many small calls (a step of
// many games is a fraction of a millisecond): waking a parked thread costs far less than
// starting one. The calling thread works too and never waits for a helper that has not started:
// a helper busy elsewhere, or slow to wake, only leaves its chunks to the others.
//
// Each thread has a block of the items of its own, the same from call to call, and takes its
// chunks there first, then those left in the others' blocks: an item's data (a game's position
// and observation rows) stays in the cache of one core, where taking the next chunk from one
// count shared by all moved the games of a step between the cores' caches.
#pragma once

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <limits>
#include <mutex>
#include <thread>
#include <type_traits>
#include <vector>

#include "velkorant/checkpoint.hpp"

namespace velkorant {

class Crew {
public:
    // A crew of `helpers` threads besides the caller's.
    explicit Crew(unsigned helpers) : blocks_(helpers + 1) {
        threads_.reserve(helpers);
        for (unsigned i = 0; i < helpers; ++i) threads_.emplace_back([this, i] { serve(i + 1); });
    }
    Crew(const Crew&) = delete;
    Crew& operator=(const Crew&) = delete;
    ~Crew() {
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            stopping_ = true;
        }
        wake_.notify_all();
    }  // the threads are joined here

    unsigned helpers() const { return static_cast<unsigned>(threads_.size()); }

    // Calls each(begin, end) for consecutive chunks of at most `chunk` items covering
    // 0..count-1 (each starting at a multiple of `chunk`), on the calling thread and whichever
    // helpers join in; only the caller ticks `checkpoint`. The failure of the lowest chunk is
    // rethrown once every helper that took part is done (the chunks above a failure are left
    // undone, those below it done). One call at a time.
    template <class Each>
    void run(std::size_t count, std::size_t chunk, Checkpoint& checkpoint, Each&& each) {
        if (count == 0) return;
        chunk = std::max<std::size_t>(chunk, 1);
        // Block t starts at the multiple of `chunk` nearest below t / (helpers + 1) of the items.
        const std::size_t parts = blocks_.size();
        for (std::size_t t = 0; t < parts; ++t) {
            const std::size_t begin = t * count / parts / chunk * chunk;
            blocks_[t].next.store(begin, std::memory_order_relaxed);
            if (t) blocks_[t - 1].end = begin;
        }
        blocks_[parts - 1].end = count;
        Job job(&call<Each>, &each, chunk, blocks_);
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            job_ = &job;
            ++generation_;
        }
        wake_.notify_all();
        std::exception_ptr interrupted;
        try {
            take(job, 0, &checkpoint);
        } catch (...) {  // the checkpoint's hook threw: stop the others and pass it on
            interrupted = std::current_exception();
            job.stop = true;
        }
        {
            std::unique_lock<std::mutex> lock(mutex_);
            job_ = nullptr;  // helpers that wake from now on leave this job alone
            done_.wait(lock, [&] { return job.busy == 0; });
        }
        if (interrupted) std::rethrow_exception(interrupted);
        if (job.failure) std::rethrow_exception(job.failure);
    }

private:
    // A thread's own items: the next chunk to take, and the end.
    struct alignas(64) Block {
        std::atomic<std::size_t> next{0};
        std::size_t end = 0;
    };

    struct Job {
        Job(void (*call)(void*, std::size_t, std::size_t), void* each, std::size_t chunk, std::vector<Block>& blocks)
            : call(call), each(each), chunk(chunk), blocks(blocks) {}
        void (*call)(void*, std::size_t, std::size_t);
        void* each;
        std::size_t chunk;
        std::vector<Block>& blocks;
        std::atomic<bool> stop{false};  // the caller's hook threw
        // The first item of the lowest chunk that failed: no chunk above it is begun.
        std::atomic<std::size_t> failed_at{std::numeric_limits<std::size_t>::max()};
        unsigned busy = 0;  // helpers inside the job, under the crew's mutex
        std::mutex failed;
        std::exception_ptr failure;
    };

    template <class Each>
    static void call(void* each, std::size_t begin, std::size_t end) {
        (*static_cast<std::remove_reference_t<Each>*>(each))(begin, end);
    }

    // Takes chunks of `job`, from block `own` first then from the others, until none is left or
    // the hook threw; the caller passes its checkpoint, whose hook may throw out of here.
    static void take(Job& job, std::size_t own, Checkpoint* checkpoint) {
        const std::size_t parts = job.blocks.size();
        for (std::size_t k = 0; k < parts; ++k) {
            Block& block = job.blocks[(own + k) % parts];
            while (!job.stop.load(std::memory_order_relaxed)) {
                const std::size_t begin = block.next.fetch_add(job.chunk, std::memory_order_relaxed);
                if (begin >= block.end || begin > job.failed_at.load(std::memory_order_relaxed)) break;
                try {
                    job.call(job.each, begin, std::min(begin + job.chunk, block.end));
                } catch (...) {
                    const std::lock_guard<std::mutex> lock(job.failed);
                    if (begin < job.failed_at.load(std::memory_order_relaxed)) {
                        job.failure = std::current_exception();
                        job.failed_at.store(begin, std::memory_order_relaxed);
                    }
                    break;
                }
                if (checkpoint) checkpoint->tick();
            }
        }
    }

    void serve(std::size_t own) {
        std::uint64_t seen = 0;
        std::unique_lock<std::mutex> lock(mutex_);
        for (;;) {
            wake_.wait(lock, [&] { return stopping_ || generation_ != seen; });
            if (stopping_) return;
            seen = generation_;
            Job* const job = job_;
            if (!job) continue;
            ++job->busy;
            lock.unlock();
            take(*job, own, nullptr);
            lock.lock();
            if (--job->busy == 0) done_.notify_all();
        }
    }

    std::mutex mutex_;
    std::condition_variable wake_, done_;
    std::uint64_t generation_ = 0;
    bool stopping_ = false;
    Job* job_ = nullptr;
    std::vector<Block> blocks_;  // one a thread, the caller's first
    std::vector<std::jthread> threads_;  // last: joined before the rest goes
};

}  // namespace velkorant

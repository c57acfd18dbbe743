// Threads kept from one call to the next, for work that comes in many small calls (a step of
// many games is a fraction of a millisecond): waking a parked thread costs far less than
// starting one. The calling thread works too and never waits for a helper that has not started:
// a helper busy elsewhere, or slow to wake, only leaves its chunks to the others.
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
    explicit Crew(unsigned helpers) {
        threads_.reserve(helpers);
        for (unsigned i = 0; i < helpers; ++i) threads_.emplace_back([this] { serve(); });
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
    // 0..count-1, on the calling thread and whichever helpers join in; only the caller ticks
    // `checkpoint`. The failure of the lowest chunk is rethrown once every helper that took
    // part is done. One call at a time.
    template <class Each>
    void run(std::size_t count, std::size_t chunk, Checkpoint& checkpoint, Each&& each) {
        if (count == 0) return;
        Job job(count, std::max<std::size_t>(chunk, 1), &call<Each>, &each);
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            job_ = &job;
            ++generation_;
        }
        wake_.notify_all();
        std::exception_ptr interrupted;
        try {
            take(job, &checkpoint);
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
    struct Job {
        Job(std::size_t count, std::size_t chunk, void (*call)(void*, std::size_t, std::size_t), void* each)
            : count(count), chunk(chunk), call(call), each(each) {}
        std::size_t count, chunk;
        void (*call)(void*, std::size_t, std::size_t);
        void* each;
        std::atomic<std::size_t> next{0};
        std::atomic<bool> stop{false};
        unsigned busy = 0;  // helpers inside the job, under the crew's mutex
        std::mutex failed;
        std::exception_ptr failure;
        std::size_t failure_at = std::numeric_limits<std::size_t>::max();
    };

    template <class Each>
    static void call(void* each, std::size_t begin, std::size_t end) {
        (*static_cast<std::remove_reference_t<Each>*>(each))(begin, end);
    }

    // Takes chunks of `job` until none is left or something failed; the caller passes its
    // checkpoint, whose hook may throw out of here.
    static void take(Job& job, Checkpoint* checkpoint) {
        while (!job.stop.load(std::memory_order_relaxed)) {
            const std::size_t begin = job.next.fetch_add(job.chunk, std::memory_order_relaxed);
            if (begin >= job.count) return;
            try {
                job.call(job.each, begin, std::min(begin + job.chunk, job.count));
            } catch (...) {
                const std::lock_guard<std::mutex> lock(job.failed);
                if (begin < job.failure_at) job.failure = std::current_exception(), job.failure_at = begin;
                job.stop = true;
                return;
            }
            if (checkpoint) checkpoint->tick();
        }
    }

    void serve() {
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
            take(*job, nullptr);
            lock.lock();
            if (--job->busy == 0) done_.notify_all();
        }
    }

    std::mutex mutex_;
    std::condition_variable wake_, done_;
    std::uint64_t generation_ = 0;
    bool stopping_ = false;
    Job* job_ = nullptr;
    std::vector<std::jthread> threads_;  // last: joined before the rest goes
};

}  // namespace velkorant

// Work over many positions on several threads: the items 0..count-1 are taken in chunks by the
// calling thread and count-1 workers. Only the calling thread ticks the checkpoint (its hook may
// need the thread that released the interpreter lock); the workers stop at the next chunk when
// anything fails. The failure of the lowest chunk is the one rethrown, so that an error names
// the same item whatever the number of threads.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <exception>
#include <limits>
#include <mutex>
#include <thread>
#include <vector>

#include "velkorant/checkpoint.hpp"

namespace velkorant {

// The threads a call asks for: `requested`, or every core when 0.
inline unsigned thread_count(unsigned requested) {
    if (requested) return requested;
    return std::max(1u, std::thread::hardware_concurrency());
}

// Calls `each(begin, end)` for consecutive chunks of at most `chunk` items covering 0..count-1,
// on up to `threads` threads (0: every core). `each` must be safe to run on several chunks at
// once: each item's result goes to a place of its own.
template <class Each>
void parallel_for(std::size_t count, unsigned threads, Checkpoint& checkpoint, Each&& each, std::size_t chunk = 256) {
    if (count == 0) return;
    chunk = std::max<std::size_t>(chunk, 1);
    const std::size_t chunks = (count - 1) / chunk + 1;
    const auto used = static_cast<unsigned>(std::min<std::size_t>(thread_count(threads), chunks));
    std::atomic<std::size_t> next{0};
    std::atomic<bool> stop{false};
    std::mutex failed;
    std::exception_ptr failure;
    std::size_t failure_at = std::numeric_limits<std::size_t>::max();
    const auto run = [&](bool caller) {
        while (!stop.load(std::memory_order_relaxed)) {
            const std::size_t begin = next.fetch_add(chunk, std::memory_order_relaxed);
            if (begin >= count) return;
            try {
                each(begin, std::min(begin + chunk, count));
                if (caller) checkpoint.tick();
            } catch (...) {
                const std::lock_guard<std::mutex> lock(failed);
                if (begin < failure_at) failure = std::current_exception(), failure_at = begin;
                stop = true;
                return;
            }
        }
    };
    {
        std::vector<std::jthread> workers;
        workers.reserve(used - 1);
        for (unsigned i = 1; i < used; ++i) workers.emplace_back([&] { run(false); });
        run(true);
    }  // the workers are joined here
    if (failure) std::rethrow_exception(failure);
}

}  // namespace velkorant

// The crew of threads that steps many games: every item done once, on several threads, call
// after call; the failure of the lowest chunk rethrown; a hook that throws stops the work.
#include <atomic>
#include <chrono>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "check.hpp"
#include "velkorant/crew.hpp"

using check::show;

namespace {

void test_every_item_once() {
    check::group = "every item once";
    velkorant::Crew crew(3);
    for (int call = 0; call < 50; ++call) {
        std::vector<std::atomic<int>> done(1000);
        std::mutex seen_lock;
        std::set<std::thread::id> threads;
        velkorant::Checkpoint never;
        crew.run(done.size(), 7, never, [&](std::size_t begin, std::size_t end) {
            {
                const std::lock_guard<std::mutex> lock(seen_lock);
                threads.insert(std::this_thread::get_id());
            }
            for (std::size_t i = begin; i < end; ++i) ++done[i];
            std::this_thread::sleep_for(std::chrono::microseconds(20));
        });
        int wrong = 0;
        for (auto& d : done) wrong += d != 1;
        CHECK_EQ(wrong, 0);
        if (call == 49) CHECK(threads.size() > 1);
    }
}

void test_lowest_failure() {
    check::group = "lowest failure";
    velkorant::Crew crew(2);
    velkorant::Checkpoint never;
    CHECK_FAILS(crew.run(500, 10, never, [&](std::size_t begin, std::size_t) {
        std::this_thread::sleep_for(std::chrono::microseconds(50));
        if (begin >= 200) throw velkorant::ValueError("chunk " + std::to_string(begin));
    }), "ValueError: chunk 200");
    int total = 0;
    crew.run(10, 1, never, [&](std::size_t, std::size_t) { static std::mutex m; const std::lock_guard<std::mutex> l(m); ++total; });
    CHECK_EQ(total, 10);  // the crew works on after a failure
}

void test_hook_stops_the_work() {
    check::group = "hook";
    velkorant::Crew crew(1);
    struct Stop {};
    velkorant::Checkpoint stopping([](void*) { throw Stop{}; }, nullptr, 3);
    std::atomic<int> chunks{0};
    bool stopped = false;
    try {
        crew.run(100000, 1, stopping, [&](std::size_t, std::size_t) { ++chunks; });
    } catch (const Stop&) {
        stopped = true;
    }
    CHECK(stopped);
    CHECK(chunks < 100000);
}

}  // namespace

int main() {
    test_every_item_once();
    test_lowest_failure();
    test_hook_stops_the_work();
    return check::finish();
}

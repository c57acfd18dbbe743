// Long calls: the rules run without the interpreter lock, so other Python threads go on, and
// every few milliseconds the lock is taken back to let the main thread's signal handlers run:
// Ctrl-C stops the work with KeyboardInterrupt. The receiver and the arguments stay borrowed
// by the call throughout; the work touches no Python object.
#pragma once

#include <chrono>
#include <exception>
#include <optional>
#include <type_traits>

#include "python/casters.hpp"
#include "velkorant/checkpoint.hpp"

namespace velkorant::python {

// The interpreter lock released for the lifetime of the object, and the checkpoint hook that
// takes it back now and then to check for signals.
class Unlocked {
public:
    Unlocked() : state_(PyEval_SaveThread()), last_(std::chrono::steady_clock::now()) {}
    Unlocked(const Unlocked&) = delete;
    Unlocked& operator=(const Unlocked&) = delete;
    ~Unlocked() { PyEval_RestoreThread(state_); }

    // Thrown out of the work when a signal handler raised: its exception is already set.
    struct Interrupted {};

    // Checkpoint hook: every kInterval, takes the lock, runs the pending signal handlers and
    // lets the lock go again; throws Interrupted when a handler raised.
    static void poll(void* self) { static_cast<Unlocked*>(self)->poll(); }

    // How many ticks pass between looks at the clock: a tick is at least a list of moves.
    static constexpr std::uint32_t kTicks = 16;

private:
    static constexpr auto kInterval = std::chrono::milliseconds(5);
    void poll() {
        const auto now = std::chrono::steady_clock::now();
        if (now - last_ < kInterval) return;
        last_ = now;
        PyEval_RestoreThread(state_);
        const bool raised = PyErr_CheckSignals() < 0;
        state_ = PyEval_SaveThread();
        if (raised) throw Interrupted{};
    }

    PyThreadState* state_;
    std::chrono::steady_clock::time_point last_;
};

// Runs `work(checkpoint)` without the interpreter lock and converts its result with the lock
// held again. A failure of the work is translated once the lock is back.
template <class Result, class Work>
PyObject* invoke_unlocked(Work&& work) noexcept {
    using Value = std::conditional_t<std::is_void_v<Result>, bool, std::remove_cvref_t<Result>>;
    std::optional<Value> value;
    std::exception_ptr failure;
    bool interrupted = false;
    {
        Unlocked unlocked;
        Checkpoint checkpoint(&Unlocked::poll, &unlocked, Unlocked::kTicks);
        try {
            if constexpr (std::is_void_v<Result>) {
                work(checkpoint);
                value.emplace(true);
            } else {
                value.emplace(work(checkpoint));
            }
        } catch (const Unlocked::Interrupted&) {
            interrupted = true;
        } catch (...) {
            failure = std::current_exception();
        }
    }
    if (interrupted) return nullptr;
    return run_guarded([&]() -> PyObject* {
        if (failure) std::rethrow_exception(failure);
        if constexpr (std::is_void_v<Result>) Py_RETURN_NONE;
        else return to_python(*value);
    });
}

}  // namespace velkorant::python

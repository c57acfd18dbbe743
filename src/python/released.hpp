// Long calls: the rules run without the interpreter lock, so other Python threads go on. On the
// main thread, where signal handlers run, the lock is taken back every few milliseconds to run
// them: Ctrl-C stops the work with KeyboardInterrupt. (On other threads there is nothing to run,
// and taking the lock back would only make the work wait for it.) The receiver and the
// arguments stay borrowed by the call throughout; the work touches no Python object.
#pragma once

#include <algorithm>
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
    Unlocked() : main_(on_main_thread()), state_(PyEval_SaveThread()), last_(std::chrono::steady_clock::now()) {}
    Unlocked(const Unlocked&) = delete;
    Unlocked& operator=(const Unlocked&) = delete;
    ~Unlocked() { PyEval_RestoreThread(state_); }

    // Thrown out of the work when a signal handler raised: its exception is already set.
    struct Interrupted {};

    // Checkpoint hook: after every interval of work, takes the lock, runs the pending signal
    // handlers and lets the lock go again; throws Interrupted when a handler raised. The interval
    // counts from the end of the last poll: waiting for a busy lock is not work.
    static void poll(void* self) {
        if (static_cast<Unlocked*>(self)->main_) static_cast<Unlocked*>(self)->poll();
    }

    // How many ticks pass between looks at the clock: a tick is at least a list of moves.
    static constexpr std::uint32_t kTicks = 16;

private:
    // The work between polls: 10 ms, longer when another thread keeps the lock busy (three times
    // the last wait for it, so that waiting stays a quarter of the time at most), never so long
    // that Ctrl-C waits more than about 0.1 s.
    static constexpr auto kInterval = std::chrono::milliseconds(10);
    static constexpr auto kLongest = std::chrono::milliseconds(60);

    // Whether this is the thread that runs signal handlers: threading's main thread, looked up
    // once (with the lock held). When that fails, every thread polls.
    static bool on_main_thread() {
        static const unsigned long main = [] {
            Ref threading(PyImport_ImportModule("threading"));
            Ref thread(threading ? PyObject_CallMethod(threading.get(), "main_thread", nullptr) : nullptr);
            Ref ident(thread ? PyObject_GetAttrString(thread.get(), "ident") : nullptr);
            const unsigned long value = ident ? PyLong_AsUnsignedLong(ident.get()) : 0;
            PyErr_Clear();
            return value;
        }();
        return main == 0 || main == static_cast<unsigned long>(-1) || PyThread_get_thread_ident() == main;
    }
    void poll() {
        const auto asked = std::chrono::steady_clock::now();
        if (asked - last_ < interval_) return;
        PyEval_RestoreThread(state_);
        const auto waited = std::chrono::steady_clock::now() - asked;
        const bool raised = PyErr_CheckSignals() < 0;
        state_ = PyEval_SaveThread();
        last_ = std::chrono::steady_clock::now();
        interval_ = std::clamp<std::chrono::steady_clock::duration>(3 * waited, kInterval, kLongest);
        if (raised) throw Interrupted{};
    }

    bool main_;
    PyThreadState* state_;
    std::chrono::steady_clock::time_point last_;
    std::chrono::steady_clock::duration interval_ = kInterval;
};

// Runs `work(checkpoint)` without the interpreter lock, then, with the lock held again,
// `convert(result)` (a new reference or nullptr with an exception set). A failure of the work is
// translated once the lock is back, by `translate` (inside a catch block; it sets the Python
// exception).
template <class Work, class Convert, class Translate>
PyObject* run_unlocked(Work&& work, Convert&& convert, Translate&& translate) noexcept {
    using Result = decltype(work(std::declval<Checkpoint&>()));
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
    try {
        if (failure) std::rethrow_exception(failure);
        return convert(std::move(*value));
    } catch (...) {
        translate();
        return nullptr;
    }
}

// A member's long call: its result converted by its caster, its failures as any other call's.
template <class Result, class Work>
PyObject* invoke_unlocked(Work&& work) noexcept {
    return run_unlocked(
        std::forward<Work>(work),
        [](auto&& value) -> PyObject* {
            if constexpr (std::is_void_v<Result>) Py_RETURN_NONE;
            else return to_python(value);
        },
        &set_python_error_from_current_exception);
}

}  // namespace velkorant::python

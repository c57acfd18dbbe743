// Long work (counting a move tree, reading a corpus, a mate search) calls tick() once per unit
// of work. Every `every` ticks the owner's hook runs: it may look at the clock, let the caller
// see a signal, and throw to stop the work, which then unwinds like any other failure.
#pragma once

#include <cstdint>

namespace velkorant {

class Checkpoint {
public:
    using Hook = void (*)(void* context);

    // Never interrupts.
    Checkpoint() = default;
    Checkpoint(Hook hook, void* context, std::uint32_t every) : hook_(hook), context_(context), every_(every), left_(every) {}
    Checkpoint(const Checkpoint&) = delete;
    Checkpoint& operator=(const Checkpoint&) = delete;

    void tick() {
        if (--left_ == 0) fire();
    }
    // Runs the hook now (and starts a new count).
    void fire() {
        left_ = every_;
        if (hook_) hook_(context_);
    }

private:
    Hook hook_ = nullptr;
    void* context_ = nullptr;
    std::uint32_t every_ = 1u << 30;
    std::uint32_t left_ = 1u << 30;
};

}  // namespace velkorant

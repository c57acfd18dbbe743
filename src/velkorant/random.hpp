// Pseudo-random numbers for playouts and self-play: xoshiro256** seeded through splitmix64, so
// that one seed gives the same numbers on every platform and compiler.
#pragma once

#include <array>
#include <cstdint>

namespace velkorant {

class Random {
public:
    explicit Random(std::uint64_t seed) {
        for (std::uint64_t& word : state_) word = splitmix(seed);
    }

    std::uint64_t next() {
        const std::uint64_t result = rotl(state_[1] * 5, 7) * 9;
        const std::uint64_t t = state_[1] << 17;
        state_[2] ^= state_[0];
        state_[3] ^= state_[1];
        state_[1] ^= state_[2];
        state_[0] ^= state_[3];
        state_[2] ^= t;
        state_[3] = rotl(state_[3], 45);
        return result;
    }

    // A number in 0..n-1, each equally likely (n at least 1): the high half of a 64-bit
    // product, draws that would favour the low numbers thrown away.
    std::uint32_t below(std::uint32_t n) {
        std::uint64_t product = (next() >> 32) * n;
        if (static_cast<std::uint32_t>(product) < n) {
            const std::uint32_t threshold = static_cast<std::uint32_t>(-n) % n;
            while (static_cast<std::uint32_t>(product) < threshold) product = (next() >> 32) * n;
        }
        return static_cast<std::uint32_t>(product >> 32);
    }

private:
    static std::uint64_t rotl(std::uint64_t x, int k) { return (x << k) | (x >> (64 - k)); }
    static std::uint64_t splitmix(std::uint64_t& seed) {
        std::uint64_t z = (seed += 0x9e3779b97f4a7c15ull);
        z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
        z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
        return z ^ (z >> 31);
    }

    std::array<std::uint64_t, 4> state_{};
};

}  // namespace velkorant

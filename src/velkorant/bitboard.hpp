// The 128-member set over the padded board. Index i is bit 127 - i of one unsigned 128-bit
// number: index 0 is the most significant bit. Indices 0..120 are squares, 121..127 are spare.
//
// `a << n` moves members towards index 0 (i -> i - n), `a >> n` towards index 127 (i -> i + n);
// the complement always holds the spare indices.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <string>

#include "velkorant/errors.hpp"

namespace velkorant {

using u128 = unsigned __int128;

inline constexpr unsigned kBits = 128;
inline constexpr unsigned kSquares = 121;  // indices 0..120 lie on the 11 x 11 grid

// Members in ascending order, squares 0..120 only.
struct SquareList {
    std::uint8_t items[kSquares];
    std::uint8_t size = 0;
    const std::uint8_t* begin() const { return items; }
    const std::uint8_t* end() const { return items + size; }
};

// Takes the lowest index out of a non-empty set and returns it. Index i is bit 127 - i, so the
// lowest index is the highest bit: the high word holds indices 0..63, the low word 64..127.
constexpr unsigned pop_lowest(u128& set) {
    const auto high = static_cast<std::uint64_t>(set >> 64);
    if (high) {
        const auto index = static_cast<unsigned>(std::countl_zero(high));
        set ^= static_cast<u128>((std::uint64_t{1} << 63) >> index) << 64;
        return index;
    }
    const auto index = static_cast<unsigned>(std::countl_zero(static_cast<std::uint64_t>(set)));
    set ^= (std::uint64_t{1} << 63) >> index;
    return 64 + index;
}

// Calls f(i) for every member i of a set, ascending: the high word's indices 0..63, then the
// low word's 64..127, each word taken apart on its own (a loop over one 64-bit word is
// cheaper than popping from both).
template <class F>
constexpr void for_each_index(u128 set, F&& f) {
    for (auto word = static_cast<std::uint64_t>(set >> 64); word;) {
        const auto index = static_cast<unsigned>(std::countl_zero(word));
        word ^= (std::uint64_t{1} << 63) >> index;
        f(index);
    }
    for (auto word = static_cast<std::uint64_t>(set); word;) {
        const auto index = static_cast<unsigned>(std::countl_zero(word));
        word ^= (std::uint64_t{1} << 63) >> index;
        f(64 + index);
    }
}

[[noreturn]] void throw_bit_out_of_bounds(std::size_t index);   // reads: "index i out of bounds: 128"
[[noreturn]] void throw_bit_out_of_range(std::size_t index);    // writes: "... out of range: Excluded(128)"
[[noreturn]] void throw_shift_too_long(std::size_t n);

class BitBoard {
public:
    constexpr BitBoard() = default;

    static constexpr BitBoard from_u128(u128 v) { return BitBoard(v); }
    static constexpr BitBoard from_words(std::uint64_t high, std::uint64_t low) {
        return BitBoard((static_cast<u128>(high) << 64) | low);
    }
    // The set holding only `index` (0..127, unchecked).
    static constexpr BitBoard square(unsigned index) { return BitBoard(kTop >> index); }

    constexpr u128 to_u128() const { return v_; }

    friend constexpr BitBoard operator&(BitBoard a, BitBoard b) { return BitBoard(a.v_ & b.v_); }
    friend constexpr BitBoard operator|(BitBoard a, BitBoard b) { return BitBoard(a.v_ | b.v_); }
    friend constexpr bool operator==(BitBoard a, BitBoard b) { return a.v_ == b.v_; }

    // Every index 0..120 not in the set, plus all of 121..127.
    constexpr BitBoard operator!() const { return BitBoard(~v_ | kSpare); }

    constexpr BitBoard operator<<(std::size_t n) const {
        if (n > kBits) throw_shift_too_long(n);
        return n == kBits ? BitBoard() : BitBoard(v_ << n);
    }
    constexpr BitBoard operator>>(std::size_t n) const {
        if (n > kBits) throw_shift_too_long(n);
        return n == kBits ? BitBoard() : BitBoard(v_ >> n);
    }

    constexpr bool operator[](std::size_t i) const {
        if (i >= kBits) throw_bit_out_of_bounds(i);
        return test(static_cast<unsigned>(i));
    }
    constexpr void set(std::size_t i, bool value) {
        if (i >= kBits) throw_bit_out_of_range(i);
        if (value) v_ |= kTop >> i; else v_ &= ~(kTop >> i);
    }

    // Unchecked membership and updates for indices known to be below 128.
    constexpr bool test(unsigned i) const { return (v_ >> (127 - i)) & 1; }
    constexpr void add(unsigned i) { v_ |= kTop >> i; }
    constexpr void remove(unsigned i) { v_ &= ~(kTop >> i); }

    constexpr bool any() const { return v_ != 0; }
    constexpr unsigned count_ones() const {
        return static_cast<unsigned>(std::popcount(static_cast<std::uint64_t>(v_ >> 64)) +
                                     std::popcount(static_cast<std::uint64_t>(v_)));
    }

    // Calls f(index) for each member among 0..120, ascending.
    template <class F>
    constexpr void for_each_square(F&& f) const {
        for (u128 rest = v_ & ~kSpare; rest;) f(static_cast<std::uint8_t>(pop_lowest(rest)));
    }

    SquareList get_trues() const {
        SquareList list;
        for_each_square([&](std::uint8_t i) { list.items[list.size++] = i; });
        return list;
    }

private:
    constexpr explicit BitBoard(u128 v) : v_(v) {}

    static constexpr u128 kTop = static_cast<u128>(1) << 127;
    static constexpr u128 kSpare = 0x7f;  // indices 121..127: the seven lowest bits

    u128 v_ = 0;
};

// Rows 1..9 of a column: column + 11, column + 22, ..., column + 99, less any past 127.
// Panics for column >= 128 with the message of a write.
constexpr BitBoard generate_column(std::size_t column) {
    if (column >= kBits) throw_bit_out_of_range(column);
    BitBoard result;
    for (unsigned r = 1; r <= 9; ++r) {
        std::size_t index = column + 11 * r;
        if (index < kBits) result.add(static_cast<unsigned>(index));
    }
    return result;
}

}  // namespace velkorant

// A square named by column and row, its square index on the padded 11 x 11 grid, and its
// two-character square text ("7g").
#pragma once

#include <cstdint>
#include <string>

namespace velkorant {

struct Address {
    std::uint8_t column = 0;
    std::uint8_t row = 0;

    // row * 11 + column, wrapping modulo 256.
    constexpr std::uint8_t to_int() const {
        return static_cast<std::uint8_t>(row * 11 + column);
    }
    static constexpr Address from_index(std::uint8_t index) {
        return Address{static_cast<std::uint8_t>(index % 11), static_cast<std::uint8_t>(index / 11)};
    }

    // Column digit (code point column + 48) then row letter (code point row + 96), each sum
    // wrapping modulo 256 and written as UTF-8.
    std::string to_string() const;
};

// Appends code point 0..255 as UTF-8 (one byte below 128, two from 128 on).
void append_latin1(std::string& out, std::uint8_t code_point);

}  // namespace velkorant

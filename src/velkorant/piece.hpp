// A piece as a value: its owner and its kind, with the 7-bit piece code carried by drop moves
// and the one- or two-letter piece text.
#pragma once

#include <cstdint>
#include <string>

#include "velkorant/color.hpp"

namespace velkorant {

struct Piece {
    Color owner = Color::None;
    Kind piece_type = Kind::None;

    // Kind in bits 0..5 (1..14, anything else is None), owner White when bit 6 is set.
    // Bit 7 is ignored.
    static constexpr Piece from_u8(std::uint8_t code) {
        return Piece{(code & 64) ? Color::White : Color::Black, kind_from_number(code & 63)};
    }

    // The piece code: kind + 64 * owner, in 8 bits.
    constexpr std::uint8_t code() const {
        return static_cast<std::uint8_t>((byte_of(owner) << 6) | number(piece_type));
    }

    // "P", "+r", ... ; upper case for Black only; a single blank for kind None.
    std::string to_string() const;
    // "Piece { owner: Black, piece_type: King }"
    std::string debug() const;
};

// The letter of a kind ("k", "g", ... with "+" before promoted kinds), lower case.
std::string_view kind_letters(Kind k);

}  // namespace velkorant

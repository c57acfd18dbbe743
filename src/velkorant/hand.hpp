// Pieces in hand for both sides: sixteen slots, colour * 8 + kind - 1, Black's King..Pawn in
// slots 0..7 and White's in 8..15.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "velkorant/color.hpp"
#include "velkorant/piece.hpp"

namespace velkorant {

inline constexpr std::size_t kHandSlots = 16;

// The pieces a side may drop: at most one entry per kind, King..Pawn order.
struct PlayerPieces {
    std::array<Piece, 8> items{};
    std::uint8_t size = 0;
    const Piece* begin() const { return items.data(); }
    const Piece* end() const { return items.data() + size; }
};

struct Hand {
    // Which piece each slot stands for: only shown by get_player_pieces and the debug text;
    // the slot of a side and kind always comes from the formula.
    std::array<Piece, kHandSlots> pieces;
    std::array<std::uint8_t, kHandSlots> counts{};

    Hand();

    // colour * 8 + kind - 1 in 16-bit unsigned arithmetic, colour taken as a signed number.
    static constexpr std::uint16_t raw_slot(Color color, Kind kind) {
        return static_cast<std::uint16_t>(signed_number(color) * 8 + number(kind) - 1);
    }
    // The slot of a side and an unpromoted kind. A raw slot past the table is a Panic
    // ("index out of bounds: the len is 16 but the index is N"); a pair that lands inside the
    // table but is not a side and a King..Pawn kind is refused with ValueError, because it
    // would act on another side's or kind's slot.
    static std::size_t slot(Color color, Kind kind);

    // Count updates: all-or-nothing. Passing 255 raises OverflowError, taking from an empty
    // slot raises ValueError; the hand is unchanged on every failure.
    void add_piece(Color color, Kind kind) { add_pieces(color, kind, 1); }
    void add_pieces(Color color, Kind kind, std::uint8_t count);
    void decrease_piece(Color color, Kind kind);

    // For King..Pawn in order, the slot's entry of `pieces` when its count is not 0.
    // Panics for None and ColorNumber.
    PlayerPieces get_player_pieces(Color color) const;

    // "pieces=[Piece { ... }, ...], counts=[0, ...]"
    std::string debug() const;
};

// Messages shared by the hand and by move execution, which checks hand slots before moving.
[[noreturn]] void throw_slot_out_of_bounds(std::uint16_t raw_slot);
[[noreturn]] void throw_count_overflow(std::size_t slot);
[[noreturn]] void throw_count_underflow(std::size_t slot);

}  // namespace velkorant

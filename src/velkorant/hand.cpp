#include "velkorant/hand.hpp"

#include "velkorant/errors.hpp"

namespace velkorant {

namespace {

constexpr std::size_t kSlotsPerSide = 8;

// "Black Pawn": the side and kind a valid slot stands for.
std::string slot_name(std::size_t slot) {
    std::string name(debug_name(slot < kSlotsPerSide ? Color::Black : Color::White));
    name += ' ';
    name += debug_name(kind_from_number(slot % kSlotsPerSide + 1));
    return name;
}

}  // namespace

void throw_slot_out_of_bounds(std::uint16_t raw_slot) {
    throw Panic("index out of bounds: the len is 16 but the index is " + std::to_string(raw_slot));
}

void throw_count_overflow(std::size_t slot) {
    throw OverflowError("too many " + slot_name(slot) + " in hand: a count holds at most 255");
}

void throw_count_underflow(std::size_t slot) {
    throw ValueError("no " + slot_name(slot) + " in hand to take");
}

Hand::Hand() {
    for (std::size_t slot = 0; slot < kHandSlots; ++slot) {
        pieces[slot] = Piece{slot < kSlotsPerSide ? Color::Black : Color::White,
                             kind_from_number(slot % kSlotsPerSide + 1)};
    }
}

std::size_t Hand::slot(Color color, Kind kind) {
    const std::uint16_t raw = raw_slot(color, kind);
    if (raw >= kHandSlots) throw_slot_out_of_bounds(raw);
    if (!is_side(color) || number(kind) < number(Kind::King) || number(kind) > number(Kind::Pawn)) {
        // The formula lands on a slot of another side or kind: refuse rather than miscount.
        std::string message = "no hand slot for ";
        message += debug_name(color);
        message += ' ';
        message += debug_name(kind);
        throw ValueError(message);
    }
    return raw;
}

void Hand::add_pieces(Color color, Kind kind, std::uint8_t count) {
    const std::size_t s = slot(color, kind);
    if (counts[s] + count > 255) throw_count_overflow(s);
    counts[s] = static_cast<std::uint8_t>(counts[s] + count);
}

void Hand::decrease_piece(Color color, Kind kind) {
    const std::size_t s = slot(color, kind);
    if (counts[s] == 0) throw_count_underflow(s);
    --counts[s];
}

PlayerPieces Hand::get_player_pieces(Color color) const {
    PlayerPieces result;
    for (std::uint8_t k = number(Kind::King); k <= number(Kind::Pawn); ++k) {
        const std::uint16_t raw = raw_slot(color, static_cast<Kind>(k));
        if (raw >= kHandSlots) throw_slot_out_of_bounds(raw);
        if (counts[raw] != 0) result.items[result.size++] = pieces[raw];
    }
    return result;
}

std::string Hand::debug() const {
    std::string text = "pieces=[";
    for (std::size_t i = 0; i < kHandSlots; ++i) {
        if (i) text += ", ";
        text += pieces[i].debug();
    }
    text += "], counts=[";
    for (std::size_t i = 0; i < kHandSlots; ++i) {
        if (i) text += ", ";
        text += std::to_string(counts[i]);
    }
    text += ']';
    return text;
}

}  // namespace velkorant

#include "velkorant/board.hpp"

#include "velkorant/errors.hpp"

namespace velkorant {

void throw_bit_out_of_bounds(std::size_t index) {
    throw Panic("index " + std::to_string(index) + " out of bounds: 128");
}

void throw_bit_out_of_range(std::size_t index) {
    throw Panic("index " + std::to_string(index) + " out of range: Excluded(128)");
}

void throw_shift_too_long(std::size_t n) {
    throw Panic("shift must be less than the length of the bit-slice: " + std::to_string(n) +
                " >= 128");
}

Board::Board() {
    // The empty-square set starts as every non-wall index, the spare indices 121..127 included.
    piece_boards[0] = !wall;
}

void Board::deploy(std::uint8_t index, Kind kind, Color color) {
    if (index >= kBits) throw_bit_out_of_range(index);
    if (number(kind) < kKinds) {
        deploy_unchecked(index, kind, color);
        return;
    }
    // A kind outside 0..14 is held by no kind set: the square is occupied and reads as None.
    deploy_unchecked(index, Kind::None, color);
    piece_boards[0].remove(index);
}

void Board::drop(std::uint8_t index) {
    if (index >= kBits) throw_bit_out_of_range(index);
    drop_unchecked(index);
}

void Board::startpos() {
    constexpr Kind back_rank[9] = {Kind::Lance,  Kind::Knight, Kind::Silver,
                                   Kind::Gold,   Kind::King,   Kind::Gold,
                                   Kind::Silver, Kind::Knight, Kind::Lance};
    for (std::uint8_t column = 1; column <= 9; ++column)
        deploy(static_cast<std::uint8_t>(11 + column), back_rank[column - 1], Color::Black);
    deploy(24, Kind::Bichop, Color::Black);
    deploy(30, Kind::Rook, Color::Black);
    for (std::uint8_t column = 1; column <= 9; ++column)
        deploy(static_cast<std::uint8_t>(33 + column), Kind::Pawn, Color::Black);
    for (std::uint8_t column = 1; column <= 9; ++column)
        deploy(static_cast<std::uint8_t>(99 + column), back_rank[column - 1], Color::White);
    deploy(96, Kind::Bichop, Color::White);
    deploy(90, Kind::Rook, Color::White);
    for (std::uint8_t column = 1; column <= 9; ++column)
        deploy(static_cast<std::uint8_t>(77 + column), Kind::Pawn, Color::White);
    hand = Hand();
}

Kind Board::kind_at(std::uint8_t index) const {
    if (index >= kBits) throw_bit_out_of_bounds(index);
    return square_kinds[index];
}

Color Board::owner_at(std::uint8_t index) const {
    if (index >= kBits) throw_bit_out_of_bounds(index);
    if (!occupied.test(index)) return Color::None;
    // White's set is never consulted: an occupied square outside Black's set reads as White.
    return color_boards[0].test(index) ? Color::Black : Color::White;
}

Piece Board::get_piece(Address address) const {
    const std::uint8_t index = address.to_int();
    const Kind kind = kind_at(index);
    return Piece{owner_at(index), kind};
}

std::string Board::placement() const {
    std::string text;
    for (unsigned row = 9; row >= 1; --row) {
        unsigned empty = 0;
        for (unsigned column = 1; column <= 9; ++column) {
            const unsigned index = row * 11 + column;
            const Kind kind = square_kinds[index];
            if (kind == Kind::None) {
                ++empty;
                continue;
            }
            if (empty) text += std::to_string(empty);
            empty = 0;
            std::string_view letters = kind_letters(kind);
            text.append(letters.substr(0, letters.size() - 1));
            char letter = letters.back();
            if (occupied.test(index) && color_boards[0].test(index))
                letter = static_cast<char>(letter - 'a' + 'A');
            text += letter;
        }
        if (empty) text += std::to_string(empty);
        if (row > 1) text += '/';
    }
    return text;
}

std::pair<bool, Color> is_finished(const Board& board) {
    const BitBoard kings = board.piece_boards[number(Kind::King)];
    if (kings.count_ones() == 2) return {false, Color::None};
    return {true, (kings & board.color_boards[0]).any() ? Color::Black : Color::White};
}

}  // namespace velkorant

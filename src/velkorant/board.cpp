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

void Board::remove(std::uint8_t index) {
    if (index >= kBits) {
        throw IndexError("square index " + std::to_string(index) +
                         " is past the bit sets: an index lies in 0..127");
    }
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

namespace {

// The state layout, version 1. Sets are written as 16 bytes, index 0 in the top bit of the
// first byte; kinds as one nibble per index (the kind set holding it, 15 for none), even
// indices in the high nibble; a hand piece as its owner's code (Black 0, White 1,
// ColorNumber 2, None 3) times 16 plus its kind.
constexpr unsigned kNoKindSet = 15;
constexpr std::size_t kSetsAt = 2, kKindsAt = kSetsAt + 3 * 16, kPiecesAt = kKindsAt + kBits / 2,
                      kCountsAt = kPiecesAt + kHandSlots, kStateSize = kCountsAt + kHandSlots;

void put_set(std::string& out, BitBoard set) {
    const u128 v = set.to_u128();
    for (int shift = 120; shift >= 0; shift -= 8)
        out += static_cast<char>(static_cast<std::uint8_t>(v >> shift));
}

BitBoard get_set(std::string_view in, std::size_t at) {
    u128 v = 0;
    for (std::size_t i = 0; i < 16; ++i) v = (v << 8) | static_cast<std::uint8_t>(in[at + i]);
    return BitBoard::from_u128(v);
}

std::uint8_t owner_code(Color c) { return c == Color::None ? 3 : byte_of(c); }

[[noreturn]] void throw_bad_state(const std::string& why) { throw_bad_state(kBoardState, why); }

}  // namespace

void throw_bad_state(const StateHeader& header, const std::string& why) {
    throw ValueError(std::string("not a ") + header.noun + " state of this library: " + why);
}

void check_state_header(std::string_view state, const StateHeader& header, const StateHeader& other) {
    if (!state.empty() && state[0] == other.tag)
        throw TypeError(std::string("a ") + other.name + " state is not a " + header.name + " state");
    if (state.size() < 2 || state[0] != header.tag)
        throw_bad_state(header, std::string("it does not start with the ") + header.noun + " tag");
    if (static_cast<std::uint8_t>(state[1]) != header.version) {
        throw_bad_state(header, "format version " + std::to_string(static_cast<std::uint8_t>(state[1])) +
                                    " is not " + std::to_string(header.version));
    }
}

std::string Board::state() const {
    std::string out;
    out.reserve(kStateSize);
    out += kBoardState.tag;
    out += static_cast<char>(kBoardState.version);
    put_set(out, occupied);
    put_set(out, color_boards[0]);
    put_set(out, color_boards[1]);
    for (unsigned i = 0; i < kBits; i += 2) {
        unsigned nibbles[2];
        for (unsigned j = 0; j < 2; ++j) {
            const Kind kind = square_kinds[i + j];
            nibbles[j] = piece_boards[number(kind)].test(i + j) ? number(kind) : kNoKindSet;
        }
        out += static_cast<char>(nibbles[0] << 4 | nibbles[1]);
    }
    for (const Piece& piece : hand.pieces)
        out += static_cast<char>(owner_code(piece.owner) << 4 | number(piece.piece_type));
    for (std::uint8_t count : hand.counts) out += static_cast<char>(count);
    return out;
}

Board Board::from_state(std::string_view state) {
    check_state_header(state, kBoardState, kGameState);
    if (state.size() != kStateSize) {
        throw_bad_state(std::to_string(state.size()) + " bytes where a state has " +
                        std::to_string(kStateSize));
    }
    Board board;
    board.occupied = get_set(state, kSetsAt);
    board.color_boards[0] = get_set(state, kSetsAt + 16);
    board.color_boards[1] = get_set(state, kSetsAt + 32);
    board.piece_boards = {};
    for (unsigned i = 0; i < kBits; ++i) {
        const auto byte = static_cast<std::uint8_t>(state[kKindsAt + i / 2]);
        const unsigned code = i % 2 ? byte & 15 : byte >> 4;
        const bool occupied = board.occupied.test(i);
        const std::string where = "index " + std::to_string(i);
        if (board.color_boards[0].test(i) && board.color_boards[1].test(i))
            throw_bad_state(where + " is in both colour sets");
        if (!occupied && (board.color_boards[0].test(i) || board.color_boards[1].test(i)))
            throw_bad_state(where + " has a colour but is not occupied");
        if (code == kNoKindSet) {
            // Only a wall square never written, or a piece of no kind, stands in no kind set.
            if (!occupied && !wall.test(i)) throw_bad_state(where + " is empty but in no kind set");
            board.square_kinds[i] = Kind::None;
            continue;
        }
        if (!occupied && code != 0) throw_bad_state(where + " holds a piece but is not occupied");
        board.piece_boards[code].add(i);
        board.square_kinds[i] = static_cast<Kind>(code);
    }
    for (std::size_t slot = 0; slot < kHandSlots; ++slot) {
        const auto byte = static_cast<std::uint8_t>(state[kPiecesAt + slot]);
        const unsigned owner = byte >> 4, kind = byte & 15;
        if (owner > 3 || kind >= kKinds)
            throw_bad_state("hand slot " + std::to_string(slot) + " names no piece");
        board.hand.pieces[slot] =
            Piece{owner == 3 ? Color::None : static_cast<Color>(owner), static_cast<Kind>(kind)};
        board.hand.counts[slot] = static_cast<std::uint8_t>(state[kCountsAt + slot]);
    }
    return board;
}

std::pair<bool, Color> is_finished(const Board& board) {
    const BitBoard kings = board.piece_boards[number(Kind::King)];
    if (kings.count_ones() == 2) return {false, Color::None};
    return {true, (kings & board.color_boards[0]).any() ? Color::Black : Color::White};
}

}  // namespace velkorant

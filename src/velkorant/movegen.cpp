// Move generation: every board move of one side in ascending source square (plain moves, then
// promoting ones), then every drop from its hand.
//
// A step or slide stops at the wall, at an own piece, or on the first opponent piece, which it
// captures. A piece that belongs to neither side does not block. Targets come from index
// arithmetic over the padded board, so a piece standing on a wall square moves by the same
// offsets as any other; targets past index 120 are never listed.
#include <bit>
#include <cstring>

#include "velkorant/attacks.hpp"
#include "velkorant/board.hpp"
#include "velkorant/cloned.hpp"
#include "velkorant/errors.hpp"

namespace velkorant {

namespace {

// One move per member of `targets`, ascending, built by `make(t)`.
template <class Make>
inline std::uint16_t* emit(std::uint16_t* cursor, u128 targets, Make make) {
    for_each_index(targets, [&](unsigned t) { *cursor++ = make(t).word; });
    return cursor;
}

// The side index of a hand piece's owner, for the masks kept per side. A hand table entry can
// name an owner that is neither side; such an owner has no masks to look up.
unsigned side_index(Color owner) {
    if (!is_side(owner)) {
        throw Panic("index out of bounds: the len is 2 but the index is " +
                    std::to_string(static_cast<std::size_t>(static_cast<std::int64_t>(signed_number(owner)))));
    }
    return byte_of(owner);
}

// Board moves of `side`'s pieces, ascending source; for each, plain moves then promoting ones.
void search_board_moves(const Board& board, int side, MoveList& out) {
    // Every square in a side's set is occupied and outside the other side's set (deploy writes
    // both colour sets together), so the piece found there is owned by that side.
    const u128 own = board.color_boards[side].to_u128();
    const u128 blockers = own | board.color_boards[side ^ 1].to_u128();
    const u128 zone = Board::promotion_zone[side].to_u128();

    // A piece has at most 81 targets, each at most twice (plain and promoting).
    u128 movers = own & ~static_cast<u128>(0x7f);
    std::uint16_t* cursor = out.append_space(static_cast<std::size_t>(std::popcount(static_cast<std::uint64_t>(movers >> 64)) +
                                                                      std::popcount(static_cast<std::uint64_t>(movers))) * 2 * 81);
    while (movers) {
        const unsigned s = pop_lowest(movers);
        const Kind kind = board.square_kinds[s];
        const u128 targets = attacks(side, kind, s, blockers) & ~own;
        cursor = emit(cursor, targets, [s](unsigned t) { return Move::normal(s, t); });
        // From inside the zone every move may promote; from outside, those that enter it.
        if (is_promotable(kind))
            cursor = emit(cursor, kTables.in_zone[side][s] ? targets : targets & zone,
                          [s](unsigned t) { return Move::promoting(s, t); });
    }
    out.commit(cursor);
}

// Rows 1..9 of every column, walls included: where a pawn closes its column to a second one.
constexpr u128 kMiddleRows = [] {
    u128 rows = 0;
    for (const u128 column : kTables.columns) rows |= column;
    return rows;
}();

// Drops from `color`'s hand: kind by kind (King..Pawn), ascending destination.
void search_drops(const Board& board, Color color, MoveList& out) {
    if (is_side(color)) {
        std::uint64_t held;
        std::memcpy(&held, board.hand.counts.data() + 8 * byte_of(color), sizeof held);
        if (!held) return;
    }
    // Refuses None and ColorNumber with a panic.
    const PlayerPieces entries = board.hand.get_player_pieces(color);
    const u128 empty = board.piece_boards[0].to_u128() & ~static_cast<u128>(0x7f);
    // The kind before's squares and where its moves stand (none at first: no kind drops on
    // index 127, off the grid).
    u128 last_allowed = 1;
    unsigned last_code = 0;
    std::size_t last_start = 0, last_count = 0;
    for (const Piece& entry : entries) {
        u128 allowed;
        switch (entry.piece_type) {
            case Kind::Gold:
            case Kind::Rook:
            case Kind::Bichop:
            case Kind::Silver: allowed = empty; break;
            case Kind::Knight: allowed = empty & ~Board::last_two_rows[side_index(entry.owner)].to_u128(); break;
            case Kind::Lance: allowed = empty & ~Board::last_row[side_index(entry.owner)].to_u128(); break;
            case Kind::Pawn: {
                // No second unpromoted pawn of the same side in a column.
                const unsigned e = side_index(entry.owner);
                // Each pawn spread up and down its column, 1, 2, 4 and 8 rows (a column is every
                // eleventh index: the spread never leaves it), then kept to rows 1..9.
                u128 pawn_columns = (board.piece_boards[number(Kind::Pawn)] & board.color_boards[e]).to_u128() & ~static_cast<u128>(0x7f);
                for (const unsigned rows : {11u, 22u, 44u, 88u}) pawn_columns |= pawn_columns >> rows | pawn_columns << rows;
                allowed = empty & ~Board::last_row[e].to_u128() & ~(pawn_columns & kMiddleRows);
                break;
            }
            default: continue;
        }
        const unsigned code = entry.code();
        std::uint16_t* begin = out.append_space(kSquares);
        if (allowed == last_allowed && (code | last_code) < 128) {
            // The same squares as the kind before (gold, silver, rook and bishop drop on every
            // empty square): its moves with the piece code changed. (The code of an owner that
            // is neither side runs into the destination's bits, where its moves are made apart.)
            const auto change = static_cast<std::uint16_t>(code ^ last_code);
            const std::uint16_t* last = out.data() + last_start;
            for (std::size_t i = 0; i < last_count; ++i) begin[i] = last[i] ^ change;
            out.commit(begin + last_count);
        } else {
            out.commit(emit(begin, allowed, [code](unsigned t) { return Move::drop_of(code, t); }));
        }
        last_allowed = allowed, last_code = code;
        last_start = static_cast<std::size_t>(begin - out.data()), last_count = out.size() - last_start;
    }
}

}  // namespace

VELKORANT_CLONED
void search_moves(const Board& board, Color color, MoveList& out) {
    out.clear();
    // Only White moves as White; every other value moves Black's pieces.
    search_board_moves(board, color == Color::White ? 1 : 0, out);
    search_drops(board, color, out);
}

}  // namespace velkorant

// Move generation: every board move of one side in ascending source square (plain moves, then
// promoting ones), then every drop from its hand.
//
// Each kind moves along up to eight directions, by a single step, a knight's jump or a slide of
// up to eight squares. A step or slide stops at the wall, at an own piece, or on the first
// opponent piece, which it captures. A piece that belongs to neither side does not block.
// Targets are worked out on index arithmetic over the padded board, so a piece standing on a
// wall square moves by the same offsets as any other; targets past index 120 are never listed.
//
// The targets of one piece form a set that is listed in ascending order, so steps are read from
// a pattern centred on one square and shifted to the piece, and slides from precomputed rays cut
// at the first piece in the way.
#include <bit>
#include <cstring>

#include "velkorant/board.hpp"
#include "velkorant/errors.hpp"

namespace velkorant {

namespace {

// Direction d has a row term and a column term; one step goes to index - (11 * row + column)
// for Black and the mirror for White. 0 is forward, 1 and 7 the forward diagonals, 2 and 6
// sideways, 3, 4, 5 backwards.
constexpr int kRowTerm[8] = {-1, -1, 0, 1, 1, 1, 0, -1};
constexpr int kColumnTerm[8] = {0, 1, 1, 1, 0, -1, -1, -1};

enum Code : std::uint8_t { kNoMove = 0, kStep = 1, kJump = 2, kSlide = 3 };

constexpr Code kMoveCodes[kKinds][8] = {
    {kNoMove, kNoMove, kNoMove, kNoMove, kNoMove, kNoMove, kNoMove, kNoMove},  // None
    {kStep, kStep, kStep, kStep, kStep, kStep, kStep, kStep},                  // King
    {kStep, kStep, kStep, kNoMove, kStep, kNoMove, kStep, kStep},              // Gold
    {kSlide, kNoMove, kSlide, kNoMove, kSlide, kNoMove, kSlide, kNoMove},      // Rook
    {kNoMove, kSlide, kNoMove, kSlide, kNoMove, kSlide, kNoMove, kSlide},      // Bichop
    {kStep, kStep, kNoMove, kStep, kNoMove, kStep, kNoMove, kStep},            // Silver
    {kNoMove, kJump, kNoMove, kNoMove, kNoMove, kNoMove, kNoMove, kJump},      // Knight
    {kSlide, kNoMove, kNoMove, kNoMove, kNoMove, kNoMove, kNoMove, kNoMove},   // Lance
    {kStep, kNoMove, kNoMove, kNoMove, kNoMove, kNoMove, kNoMove, kNoMove},    // Pawn
    {kSlide, kStep, kSlide, kStep, kSlide, kStep, kSlide, kStep},              // Dragon
    {kStep, kSlide, kStep, kSlide, kStep, kSlide, kStep, kSlide},              // Horse
    {kStep, kStep, kStep, kNoMove, kStep, kNoMove, kStep, kStep},              // ProSilver
    {kStep, kStep, kStep, kNoMove, kStep, kNoMove, kStep, kStep},              // ProKnight
    {kStep, kStep, kStep, kNoMove, kStep, kNoMove, kStep, kStep},              // ProLance
    {kStep, kStep, kStep, kNoMove, kStep, kNoMove, kStep, kStep},              // ProPawn
};

// Target index minus source index for a move of `code` in direction d at distance k. A knight's
// jump is the diagonal step plus one more row forward.
constexpr int offset(int side, int d, Code code, int k) {
    const int sign = side == 1 ? -1 : 1;
    const int row = sign * kRowTerm[d];
    const int column = sign * kColumnTerm[d];
    const int jump = code == kJump ? -sign : 0;
    return -(11 * (row * k + jump) + column * k);
}

// The playing squares: every index 0..120 off the wall.
constexpr u128 kPlaying = ~Board::wall.to_u128() & ~static_cast<u128>(0x7f);

// Step patterns are built around this square; any square 23 or more from both ends will do.
constexpr unsigned kCentre = 60;

struct Tables {
    // Step and jump targets of each side's kinds, for a piece on kCentre.
    u128 steps[2][kKinds];
    // rays[d][s]: the squares a slide from s in Black's direction d crosses up to distance 8,
    // stopping before a wall square or an index outside 0..120.
    u128 rays[8][kSquares];
    // The rows 1..9 of each column 0..10.
    u128 columns[11];
    // in_zone[side][s]: square s lies in the side's promotion zone.
    bool in_zone[2][kSquares];
};

constexpr Tables make_tables() {
    Tables t{};
    for (int side = 0; side < 2; ++side) {
        for (int kind = 0; kind < kKinds; ++kind) {
            for (int d = 0; d < 8; ++d) {
                const Code code = kMoveCodes[kind][d];
                if (code == kStep || code == kJump)
                    t.steps[side][kind] |= BitBoard::square(kCentre + offset(side, d, code, 1)).to_u128();
            }
        }
    }
    for (int d = 0; d < 8; ++d) {
        for (int s = 0; s < static_cast<int>(kSquares); ++s) {
            u128 ray = 0;
            for (int k = 1; k <= 8; ++k) {
                const int target = s + offset(0, d, kSlide, k);
                if (target < 0 || target >= static_cast<int>(kSquares) || Board::wall.test(target)) break;
                ray |= BitBoard::square(target).to_u128();
            }
            t.rays[d][s] = ray;
        }
    }
    for (unsigned column = 0; column < 11; ++column) t.columns[column] = generate_column(column).to_u128();
    for (int side = 0; side < 2; ++side)
        for (unsigned s = 0; s < kSquares; ++s) t.in_zone[side][s] = Board::promotion_zone[side].test(s);
    return t;
}

constexpr Tables kTables = make_tables();

constexpr unsigned lowest_index(u128 set) {
    const auto high = static_cast<std::uint64_t>(set >> 64);
    return high ? std::countl_zero(high) : 64 + std::countl_zero(static_cast<std::uint64_t>(set));
}

constexpr unsigned highest_index(u128 set) {
    const auto low = static_cast<std::uint64_t>(set);
    return low ? 127 - std::countr_zero(low) : 63 - std::countr_zero(static_cast<std::uint64_t>(set >> 64));
}

// A slide along Black's direction `Ray`: every square up to and including the first piece of
// either side (own pieces are taken out later).
template <unsigned Ray>
inline u128 slide(unsigned s, u128 blockers) {
    constexpr bool ascending = offset(0, Ray, kSlide, 1) > 0;
    const u128 ray = kTables.rays[Ray][s];
    const u128 hit = ray & blockers;
    if (!hit) return ray;
    return ray & ~kTables.rays[Ray][ascending ? lowest_index(hit) : highest_index(hit)];
}

inline u128 rook_slides(unsigned s, u128 blockers) {
    return slide<0>(s, blockers) | slide<2>(s, blockers) | slide<4>(s, blockers) | slide<6>(s, blockers);
}

inline u128 bichop_slides(unsigned s, u128 blockers) {
    return slide<1>(s, blockers) | slide<3>(s, blockers) | slide<5>(s, blockers) | slide<7>(s, blockers);
}

inline u128 steps(int side, Kind kind, unsigned s) {
    const u128 pattern = kTables.steps[side][number(kind)];
    const u128 moved = s >= kCentre ? pattern >> (s - kCentre) : pattern << (kCentre - s);
    return moved & kPlaying;
}

// Writes base | t << 7 for each member t of `targets` (all below 121), ascending.
inline std::uint16_t* emit(std::uint16_t* cursor, u128 targets, unsigned base) {
    auto high = static_cast<std::uint64_t>(targets >> 64);
    auto low = static_cast<std::uint64_t>(targets);
    while (high) {
        const unsigned index = static_cast<unsigned>(std::countl_zero(high));
        *cursor++ = static_cast<std::uint16_t>(base | index << 7);
        high ^= (std::uint64_t{1} << 63) >> index;
    }
    while (low) {
        const unsigned index = static_cast<unsigned>(std::countl_zero(low));
        *cursor++ = static_cast<std::uint16_t>(base | (64 + index) << 7);
        low ^= (std::uint64_t{1} << 63) >> index;
    }
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

}  // namespace

void search_moves(const Board& board, Color color, MoveList& out) {
    out.clear();
    // Only White moves as White; every other value moves Black's pieces. Every square in a
    // side's set is occupied and outside the other side's set (deploy writes both colour sets
    // together), so the piece found there is owned by that side.
    const int side = color == Color::White ? 1 : 0;
    const u128 own = board.color_boards[side].to_u128();
    const u128 blockers = own | board.color_boards[side ^ 1].to_u128();
    const u128 zone = Board::promotion_zone[side].to_u128();

    // A piece has at most 81 targets, each at most twice (plain and promoting).
    const u128 movers = own & ~static_cast<u128>(0x7f);
    const std::uint64_t words[2] = {static_cast<std::uint64_t>(movers >> 64), static_cast<std::uint64_t>(movers)};
    std::uint16_t* cursor =
        out.append_space(static_cast<std::size_t>(std::popcount(words[0]) + std::popcount(words[1])) * 2 * 81);

    // Own pieces in ascending square order: word 0 holds squares 0..63, word 1 squares 64..120.
    for (unsigned w = 0; w < 2; ++w) {
        for (std::uint64_t bits = words[w]; bits;) {
            const unsigned lead = static_cast<unsigned>(std::countl_zero(bits));
            bits ^= (std::uint64_t{1} << 63) >> lead;
            const unsigned s = 64 * w + lead;
            const Kind kind = board.square_kinds[s];
            u128 targets;
            switch (kind) {
                case Kind::None: continue;
                case Kind::Rook: targets = rook_slides(s, blockers); break;
                case Kind::Bichop: targets = bichop_slides(s, blockers); break;
                case Kind::Lance: targets = side ? slide<4>(s, blockers) : slide<0>(s, blockers); break;
                case Kind::Dragon: targets = rook_slides(s, blockers) | steps(side, kind, s); break;
                case Kind::Horse: targets = bichop_slides(s, blockers) | steps(side, kind, s); break;
                default: targets = steps(side, kind, s); break;
            }
            targets &= ~own;
            cursor = emit(cursor, targets, s);
            if (is_promotable(kind)) {
                // From inside the zone every move may promote; from outside, those that enter it.
                cursor = emit(cursor, kTables.in_zone[side][s] ? targets : targets & zone, s | 1u << 14);
            }
        }
    }
    out.commit(cursor);

    if (is_side(color)) {
        std::uint64_t held;
        std::memcpy(&held, board.hand.counts.data() + 8 * side, sizeof held);
        if (!held) return;
    }
    // Refuses None and ColorNumber with a panic.
    const PlayerPieces entries = board.hand.get_player_pieces(color);
    const u128 empty = board.piece_boards[0].to_u128() & ~static_cast<u128>(0x7f);
    for (const Piece& entry : entries) {
        u128 allowed;
        switch (entry.piece_type) {
            case Kind::Gold:
            case Kind::Rook:
            case Kind::Bichop:
            case Kind::Silver: allowed = empty; break;
            case Kind::Knight:
                allowed = empty & ~Board::last_two_rows[side_index(entry.owner)].to_u128();
                break;
            case Kind::Lance: allowed = empty & ~Board::last_row[side_index(entry.owner)].to_u128(); break;
            case Kind::Pawn: {
                // No second unpromoted pawn of the same side in a column.
                const unsigned e = side_index(entry.owner);
                u128 pawn_columns = 0;
                (board.piece_boards[number(Kind::Pawn)] & board.color_boards[e])
                    .for_each_square([&](std::uint8_t p) { pawn_columns |= kTables.columns[p % 11]; });
                allowed = empty & ~Board::last_row[e].to_u128() & ~pawn_columns;
                break;
            }
            default: continue;
        }
        const unsigned code = static_cast<std::uint8_t>(byte_of(entry.owner) << 6 | number(entry.piece_type));
        out.commit(emit(out.append_space(kSquares), allowed, code | 1u << 15));
    }
}

}  // namespace velkorant

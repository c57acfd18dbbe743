// Attack tables on the padded board, shared by the move generator and the full rules: named
// directions, the step patterns of every side and kind, slide rays cut at the first piece.
//
// Sets are raw 128-bit words in the board's layout (index i is bit 127 - i). Every ray from a
// square of the 11 x 11 grid stops before the wall, so nothing wraps around to another row.
#pragma once

#include <bit>
#include <cstdint>
#include <type_traits>

#include "velkorant/board.hpp"

namespace velkorant {

// Index displacement of one step. North is towards row 9 (Black's forward), East towards
// column 9.
enum Direction : int {
    North = 11,
    South = -11,
    East = 1,
    West = -1,
    NorthEast = North + East,
    NorthWest = North + West,
    SouthEast = South + East,
    SouthWest = South + West,
};

// The eight directions, numbered as they are visited for Black: forward first, backward fourth.
// White's are the same turned around.
inline constexpr Direction kDirections[8] = {North, NorthWest, West, SouthWest, South, SouthEast, East, NorthEast};

// Position of a direction in kDirections: the index of its ray table.
constexpr unsigned ray_of(Direction d) {
    unsigned i = 0;
    while (kDirections[i] != d) ++i;
    return i;
}

// The forward direction of a side (0 Black, 1 White).
constexpr Direction forward(int side) { return side ? South : North; }

namespace detail {
// The set of each index on its own, read from a table at run time: a 128-bit shift by a
// variable count takes several instructions, a load one.
struct Bits {
    u128 of[kBits];
};
constexpr Bits make_bits() {
    Bits b{};
    for (unsigned s = 0; s < kBits; ++s) b.of[s] = static_cast<u128>(1) << (127 - s);
    return b;
}
inline constexpr Bits kBitOf = make_bits();
}  // namespace detail

constexpr u128 bit(unsigned s) {
    if (std::is_constant_evaluated()) return static_cast<u128>(1) << (127 - s);
    return detail::kBitOf.of[s];
}

// The playing squares: every index 0..120 off the wall.
inline constexpr u128 kPlaying = ~Board::wall.to_u128() & ~static_cast<u128>(0x7f);

// Lowest and highest index of a non-empty set.
// Both words are scanned and the answer picked without a branch: which word holds the piece
// sought is as good as random, and a wrong guess costs more than the second scan.
constexpr unsigned lowest_index(u128 set) {
    const auto high = static_cast<unsigned>(std::countl_zero(static_cast<std::uint64_t>(set >> 64)));  // 64: empty
    const auto low = static_cast<unsigned>(std::countl_zero(static_cast<std::uint64_t>(set)));
    return high + (low & (0u - (high >> 6)));
}
constexpr unsigned highest_index(u128 set) {
    const auto low = static_cast<unsigned>(std::countr_zero(static_cast<std::uint64_t>(set)));  // 64: empty
    const auto high = static_cast<unsigned>(std::countr_zero(static_cast<std::uint64_t>(set >> 64)));
    return 127 - (low + (high & (0u - (low >> 6))));
}

namespace detail {

// Step patterns are built around this square; any square 24 or more from both ends will do.
inline constexpr unsigned kCentre = 60;

// Black's steps by kind, as index displacements; White's are the same turned around. A knight
// jumps two rows forward and one column aside. Dragon and Horse step only where they do not
// slide.
constexpr u128 black_steps(Kind kind) {
    constexpr int king[] = {North, NorthWest, West, SouthWest, South, SouthEast, East, NorthEast};
    constexpr int gold[] = {North, NorthWest, West, South, East, NorthEast};
    constexpr int silver[] = {North, NorthWest, SouthWest, SouthEast, NorthEast};
    constexpr int knight[] = {North + NorthWest, North + NorthEast};
    constexpr int pawn[] = {North};
    constexpr int diagonal[] = {NorthWest, SouthWest, SouthEast, NorthEast};
    constexpr int orthogonal[] = {North, West, South, East};
    const auto pattern = [](const auto& steps) {
        u128 set = 0;
        for (const int step : steps) set |= bit(static_cast<unsigned>(static_cast<int>(kCentre) + step));
        return set;
    };
    switch (kind) {
        case Kind::King: return pattern(king);
        case Kind::Gold:
        case Kind::ProSilver:
        case Kind::ProKnight:
        case Kind::ProLance:
        case Kind::ProPawn: return pattern(gold);
        case Kind::Silver: return pattern(silver);
        case Kind::Knight: return pattern(knight);
        case Kind::Pawn: return pattern(pawn);
        case Kind::Dragon: return pattern(diagonal);
        case Kind::Horse: return pattern(orthogonal);
        default: return 0;
    }
}

// The mirror image of a pattern around kCentre: White's steps from Black's.
constexpr u128 turned(u128 pattern) {
    u128 set = 0;
    for (unsigned s = 0; s < 2 * kCentre + 1; ++s)
        if (pattern & bit(s)) set |= bit(2 * kCentre - s);
    return set;
}

struct Tables {
    u128 rays[8][kBits];       // rays[d][s]: the open board from s along kDirections[d]; none from 121..127
    u128 lines[2][kSquares];   // the rook's four rays, the bishop's four rays
    u128 columns[11];          // rows 1..9 of each column
    bool in_zone[2][kSquares]; // square s lies in the side's promotion zone
    u128 step_from[2][kKinds][kBits];  // step targets of each side's kinds from each index, on the playing area
};

constexpr Tables make_tables() {
    Tables t{};
    for (unsigned d = 0; d < 8; ++d) {
        for (int s = 0; s < static_cast<int>(kSquares); ++s) {
            for (int k = 1, target = s + kDirections[d]; k <= 8; ++k, target += kDirections[d]) {
                if (target < 0 || target >= static_cast<int>(kSquares) || Board::wall.test(target)) break;
                t.rays[d][s] |= bit(static_cast<unsigned>(target));
            }
            t.lines[d & 1][s] |= t.rays[d][s];
        }
    }
    for (unsigned column = 0; column < 11; ++column) t.columns[column] = generate_column(column).to_u128();
    for (int side = 0; side < 2; ++side)
        for (unsigned s = 0; s < kSquares; ++s) t.in_zone[side][s] = Board::promotion_zone[side].test(s);
    // Each kind's pattern around kCentre moved to every index: one load where a generator asks
    // for a piece's steps.
    for (int kind = 0; kind < kKinds; ++kind) {
        const u128 black = black_steps(static_cast<Kind>(kind));
        for (int side = 0; side < 2; ++side) {
            const u128 pattern = side ? turned(black) : black;
            for (unsigned s = 0; s < kBits; ++s)
                t.step_from[side][kind][s] =
                    (s >= kCentre ? pattern >> (s - kCentre) : pattern << (kCentre - s)) & kPlaying;
        }
    }
    return t;
}

inline constexpr Tables kTables = make_tables();

}  // namespace detail

using detail::kTables;

// Every member moved one step along d: index i to i + d.
template <int D>
constexpr u128 shifted(u128 set) {
    if constexpr (D > 0) return set >> D; else return set << -D;
}

// The squares a slide from s along D crosses: up to and including the first piece of `blockers`.
template <Direction D>
inline u128 slide(unsigned s, u128 blockers) {
    const u128 ray = kTables.rays[ray_of(D)][s];
    const u128 hit = ray & blockers;
    if constexpr (D < 0) {
        // Towards index 0 the first piece is the lowest bit of the hits: keep the bits up to it.
        return ray & (hit ^ (hit - 1));
    } else {
        // Towards index 127 it is the lowest index; with none, index 127 stands in, whose ray is empty.
        return ray & ~kTables.rays[ray_of(D)][lowest_index(hit | 1)];
    }
}

inline u128 rook_attacks(unsigned s, u128 blockers) {
    return slide<North>(s, blockers) | slide<West>(s, blockers) | slide<South>(s, blockers) | slide<East>(s, blockers);
}
inline u128 bichop_attacks(unsigned s, u128 blockers) {
    return slide<NorthWest>(s, blockers) | slide<SouthWest>(s, blockers) | slide<SouthEast>(s, blockers) |
           slide<NorthEast>(s, blockers);
}
inline u128 lance_attacks(int side, unsigned s, u128 blockers) {
    return side ? slide<South>(s, blockers) : slide<North>(s, blockers);
}

// The nearest piece along D from s is one of `sliders`.
template <Direction D>
inline bool slides_onto(unsigned s, u128 occupied, u128 sliders) {
    const u128 ray = kTables.rays[ray_of(D)][s];
    if (!(ray & sliders)) return false;
    const u128 hit = ray & occupied;
    return sliders & bit(D > 0 ? lowest_index(hit) : highest_index(hit));
}

// A slider among `rooks`, `lances` and `bichops` (of `side`) reaches s, `occupied` in the way,
// each only along the lines it slides on; a lance slides towards the other side, so White's
// lances reach s from the north.
[[gnu::always_inline]] inline bool slider_reaches(int side, unsigned s, u128 occupied, u128 rooks, u128 lances,
                                                  u128 bichops) {
    if (kTables.lines[0][s] & (rooks | lances)) {
        if (slides_onto<North>(s, occupied, rooks | (side ? lances : 0)) ||
            slides_onto<South>(s, occupied, rooks | (side ? 0 : lances)) || slides_onto<East>(s, occupied, rooks) ||
            slides_onto<West>(s, occupied, rooks))
            return true;
    }
    return (kTables.lines[1][s] & bichops) &&
           (slides_onto<NorthEast>(s, occupied, bichops) || slides_onto<NorthWest>(s, occupied, bichops) ||
            slides_onto<SouthEast>(s, occupied, bichops) || slides_onto<SouthWest>(s, occupied, bichops));
}

// The step and jump targets of a piece of `kind` and `side` on s, on the playing area only.
inline u128 step_attacks(int side, Kind kind, unsigned s) { return kTables.step_from[side][number(kind)][s]; }

// Every square a piece of `kind` and `side` on s reaches, up to and including the first piece in
// the way of each slide.
inline u128 attacks(int side, Kind kind, unsigned s, u128 blockers) {
    switch (kind) {
        case Kind::None: return 0;
        case Kind::Rook: return rook_attacks(s, blockers);
        case Kind::Bichop: return bichop_attacks(s, blockers);
        case Kind::Lance: return lance_attacks(side, s, blockers);
        case Kind::Dragon: return rook_attacks(s, blockers) | step_attacks(side, kind, s);
        case Kind::Horse: return bichop_attacks(s, blockers) | step_attacks(side, kind, s);
        default: return step_attacks(side, kind, s);
    }
}

}  // namespace velkorant

// The quick proof that a side has no mate in one, and the attack helpers it shares with the
// walk over the checks (check_walk.cpp, the only file that includes this one).
//
// Most positions have no mate in one, and most of those show it cheaply: the defending king
// has flights that nothing attacks, and no drop and no move can put a piece where it takes them
// all (surely_no_mate). Tables worked out at compile time around a king in the middle of the
// board answer "whence could a piece of this kind take these flights" without a branch per
// direction, in a window of the board around the king where a square near it has the same
// bit whatever the king's square.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>
#ifdef VELKORANT_MATE_SCREEN_STATS
#include <cstdio>
#endif

#include "velkorant/attacks.hpp"
#include "velkorant/board.hpp"

namespace velkorant::mate_screen {
// kNear[r][s]: the squares within r rows and two columns of s, r being 2 or 4. A piece that
// steps (promoting or not) can check a king on s only from within two rows, a knight from within
// four.
struct Near {
    u128 of[2][kSquares];
};

constexpr Near make_near() {
    Near n{};
    for (int rows = 2, i = 0; i < 2; rows += 2, ++i)
        for (int s = 0; s < static_cast<int>(kSquares); ++s) {
            for (int row = -rows; row <= rows; ++row)
                for (int column = -2; column <= 2; ++column) {
                    const int p = s + 11 * row + column;
                    if (p >= 0 && p < static_cast<int>(kSquares)) n.of[i][s] |= bit(static_cast<unsigned>(p));
                }
            n.of[i][s] &= kPlaying;
        }
    return n;
}

inline constexpr Near kNear = make_near();

// The board's pieces by the way they move, of both sides.
struct Movers {
    u128 pawns, knights, silvers, golds, kinglike, rooks, bichops, lances;
};

inline Movers movers_of(const Board& board) {
    const auto of = [&](Kind k) { return board.piece_boards[number(k)].to_u128(); };
    return Movers{of(Kind::Pawn),
                  of(Kind::Knight),
                  of(Kind::Silver),
                  of(Kind::Gold) | of(Kind::ProSilver) | of(Kind::ProKnight) | of(Kind::ProLance) | of(Kind::ProPawn),
                  of(Kind::King) | of(Kind::Dragon) | of(Kind::Horse),
                  of(Kind::Rook) | of(Kind::Dragon),
                  of(Kind::Bichop) | of(Kind::Horse),
                  of(Kind::Lance)};
}

// The pieces among `mine` (of side `by`) that step or jump onto s: a piece on p reaches s
// exactly when the other side's piece of the same kind on s reaches p.
inline u128 steppers_onto(const Movers& m, int by, u128 mine, unsigned s) {
    const int other = by ^ 1;
    return ((step_attacks(other, Kind::Pawn, s) & m.pawns) | (step_attacks(other, Kind::Knight, s) & m.knights) |
            (step_attacks(other, Kind::Silver, s) & m.silvers) | (step_attacks(other, Kind::Gold, s) & m.golds) |
            (step_attacks(other, Kind::King, s) & m.kinglike)) &
           mine;
}

// Every piece among `mine` that attacks s.
inline u128 attackers_onto(const Movers& m, int by, u128 mine, unsigned s, u128 occupied) {
    u128 found = steppers_onto(m, by, mine, s);
    if (kTables.lines[0][s] & (m.rooks | m.lances) & mine)
        found |= ((rook_attacks(s, occupied) & m.rooks) | (lance_attacks(by ^ 1, s, occupied) & m.lances)) & mine;
    if (kTables.lines[1][s] & m.bichops & mine) found |= bichop_attacks(s, occupied) & m.bichops & mine;
    return found;
}

// Some piece among `mine` (of side `by`) attacks s: the steps first, then each line that holds
// a slider of the right kind. A lance slides towards the other side.
[[gnu::always_inline]] inline bool attacked_by(const Movers& m, int by, u128 mine, unsigned s, u128 occupied) {
    return steppers_onto(m, by, mine, s) ||
           slider_reaches(by, s, occupied, m.rooks & mine, m.lances & mine, m.bichops & mine);
}

constexpr bool slides_straight(Kind k) { return k == Kind::Rook || k == Kind::Dragon; }
constexpr bool slides_diagonal(Kind k) { return k == Kind::Bichop || k == Kind::Horse; }

// The pieces among `mine` that stand alone between square k and a slider of `straight`,
// `diagonal` or `lances`, the lances lying from k in direction `lance_way`.
inline u128 alone_between(unsigned k, u128 occupied, u128 mine, u128 straight, u128 diagonal, u128 lances, Direction lance_way) {
    if (!((kTables.lines[0][k] & (straight | lances)) | (kTables.lines[1][k] & diagonal))) return 0;
    u128 found = 0;
    for (unsigned d = 0; d < 8; ++d) {
        const u128 ray = kTables.rays[d][k];
        const u128 sliders = (d & 1 ? diagonal : straight) | (kDirections[d] == lance_way ? lances : 0);
        if (!(ray & sliders)) continue;
        u128 hit = ray & occupied;
        const bool up = kDirections[d] > 0;
        const unsigned first = up ? lowest_index(hit) : highest_index(hit);
        if (!(mine & bit(first))) continue;
        hit &= ~bit(first);
        if (hit && (sliders & bit(up ? lowest_index(hit) : highest_index(hit)))) found |= bit(first);
    }
    return found;
}

// Where a checking piece may stand, seen from the defending king: next to it along
// kDirections[j] (slot j), two squares off along that line (slot 8 + j), further along it (slot
// 18 + j), a knight's jump off (slots 16 and 17, the lower index first). kPlaces.of[us][flights]
// [kind] holds the slots whence a piece of that kind of side `us`, checking, attacks every
// flight of `flights` (bit i: the king's neighbour kRing[i] away), every kind's in one cache
// line; kPlaces.kinds[us][flights] the kinds with any such slot. Worked out on an empty board around a king in the
// middle: pieces in the way only shorten a reach and an edge only takes squares away, so a slot
// missing here cannot do it on the real board either. A slider's reach runs on through the
// king's square, as it does once the king steps away.
struct Places {
    alignas(64) std::uint32_t of[2][256][16];
    std::uint16_t kinds[2][256];
};

// The square the tables below are worked out around: every step and knight's jump from it stays
// on the board.
inline constexpr unsigned kMiddle = 60;

// The king's neighbours as bits of a set of flights, from the highest index down: the sets
// are read off the window around the king in a few shifts (flights_of).
inline constexpr int kRing[8] = {12, 11, 10, 1, -1, -10, -11, -12};

// kRingLines.of[0][k]: the rows and columns through the king on k and its neighbours, whence a
// rook or lance may reach one of them; of[1][k] the same for diagonals and bishops.
struct RingLines {
    u128 of[2][kSquares];
};

constexpr RingLines make_ring_lines() {
    RingLines r{};
    for (unsigned k = 0; k < kSquares; ++k)
        for (unsigned s = 0; s < kSquares; ++s)
            if (s == k || (kTables.step_from[0][number(Kind::King)][k] & bit(s)))
                for (int i = 0; i < 2; ++i) r.of[i][k] |= kTables.lines[i][s];
    return r;
}

inline constexpr RingLines kRingLines = make_ring_lines();


// How far from the king's square the two squares lie whence a knight of side `us` checks it,
// the lower first.
constexpr int knight_offset(int us, int i) {
    int found[2] = {0, 0}, n = 0;
    for (unsigned s = 0; s < kSquares; ++s)
        if (kTables.step_from[us ^ 1][number(Kind::Knight)][kMiddle] & bit(s))
            found[n++] = static_cast<int>(s) - static_cast<int>(kMiddle);
    return found[i];
}

constexpr Places make_places() {
    Places p{};
    const auto& t = kTables;
    for (int us = 0; us < 2; ++us) {
        for (int k = number(Kind::Gold); k < kKinds; ++k) {
            const Kind kind = static_cast<Kind>(k);
            const auto reach = [&](int side, unsigned s) -> u128 {
                switch (kind) {
                    case Kind::Rook: return t.lines[0][s];
                    case Kind::Bichop: return t.lines[1][s];
                    case Kind::Lance: return t.rays[ray_of(forward(side))][s];
                    case Kind::Dragon: return t.lines[0][s] | t.step_from[side][number(Kind::King)][s];
                    case Kind::Horse: return t.lines[1][s] | t.step_from[side][number(Kind::King)][s];
                    default: return t.step_from[side][k][s];
                }
            };
            const u128 checking = reach(us ^ 1, kMiddle);
            for (unsigned s = 0; s < kSquares; ++s) {
                if (!(checking & bit(s))) continue;
                unsigned slot = 0;
                for (unsigned j = 0; j < 8; ++j) {
                    const int d = kDirections[j];
                    if (static_cast<int>(s) == static_cast<int>(kMiddle) + d) slot = j;
                    else if (static_cast<int>(s) == static_cast<int>(kMiddle) + 2 * d) slot = 8 + j;
                    else if (t.rays[j][kMiddle] & bit(s)) slot = 18 + j;
                }
                for (int i = 0; i < 2; ++i)
                    if (static_cast<int>(s) == static_cast<int>(kMiddle) + knight_offset(us, i))
                        slot = 16 + static_cast<unsigned>(i);
                const u128 covered = reach(us, s);
                unsigned mask = 0;
                for (unsigned i = 0; i < 8; ++i)
                    if (covered & bit(static_cast<unsigned>(static_cast<int>(kMiddle) + kRing[i]))) mask |= 1u << i;
                for (unsigned f = 0; f < 256; ++f)
                    if (!(f & ~mask)) {
                        p.of[us][f][k] |= 1u << slot;
                        p.kinds[us][f] |= static_cast<std::uint16_t>(1u << k);
                    }
            }
        }
    }
    return p;
}

inline constexpr Places kPlaces = make_places();
static_assert(kKinds <= 16);

inline constexpr int kKnightOffsets[2][2] = {{knight_offset(0, 0), knight_offset(0, 1)}, {knight_offset(1, 0), knight_offset(1, 1)}};

// The screen below works in a 64-bit window of the board around the defending king: bit b is
// the square b - 24 indices before the king's (b = 24 the king, bits 12..14, 23, 25, 34..36 its
// neighbours), two rows and two columns each way and more. A step by d indices is a shift by d
// bits, and a square near the king has the same bit whatever the king's square.
inline constexpr int kWindowKing = 24;
constexpr std::uint64_t window_bit(int offset) { return std::uint64_t{1} << (kWindowKing - offset); }

// The squares of a window around the king that neighbour it, as a set of flights.
constexpr unsigned flights_of(std::uint64_t w) {
    return static_cast<unsigned>((w >> 12 & 7) | (w >> 20 & 8) | (w >> 21 & 16) | (w >> 29 & 0xe0));
}
static_assert(flights_of(window_bit(kRing[0]) | window_bit(kRing[3]) | window_bit(kRing[4]) | window_bit(kRing[7])) ==
              0b10011001);

// The squares of the slots next to the king and two off (bit j: along kDirections[j]) and of the
// two knight's slots of each side, in the window: a set of slots becomes its squares in three
// loads, without a branch per direction.
struct SlotSquares {
    std::uint64_t next[256], two[256], knight[2][4];
    // The king's neighbours as kDirections bits, from a set of flights (bits in kRing order).
    std::uint8_t ways_of_flights[256];
};

constexpr SlotSquares make_slot_squares() {
    SlotSquares t{};
    for (unsigned set = 0; set < 256; ++set)
        for (unsigned j = 0; j < 8; ++j) {
            if (!(set >> j & 1)) continue;
            t.next[set] |= window_bit(kDirections[j]);
            t.two[set] |= window_bit(2 * kDirections[j]);
        }
    for (unsigned set = 0; set < 256; ++set)
        for (unsigned i = 0; i < 8; ++i)
            if (set >> i & 1)
                for (unsigned j = 0; j < 8; ++j)
                    if (kDirections[j] == kRing[i]) t.ways_of_flights[set] |= static_cast<std::uint8_t>(1u << j);
    for (int us = 0; us < 2; ++us)
        for (unsigned set = 0; set < 4; ++set)
            for (int i = 0; i < 2; ++i)
                if (set >> i & 1) t.knight[us][set] |= window_bit(kKnightOffsets[us][i]);
    return t;
}

inline constexpr SlotSquares kSlotSquares = make_slot_squares();

constexpr std::uint16_t kinds_bit(Kind k) { return static_cast<std::uint16_t>(1u << number(k)); }

// The kinds a side holds, as kinds_bit bits, from its eight hand counts (King..Pawn) read as
// one word: each byte's bits folded onto its lowest, then the eight gathered into one byte.
inline std::uint16_t held_kinds(const std::uint8_t* counts) {
    std::uint64_t word;
    std::memcpy(&word, counts, sizeof word);
    if constexpr (std::endian::native == std::endian::big) word = __builtin_bswap64(word);
    word |= word >> 4;
    word |= word >> 2;
    word |= word >> 1;
    word &= 0x0101010101010101u;
    return static_cast<std::uint16_t>((word * 0x0102040810204080u) >> 56 << 1);
}

// The kinds whose drop might mate (a pawn drop never does).
inline constexpr std::uint16_t kDropKinds = kinds_bit(Kind::Gold) | kinds_bit(Kind::Rook) | kinds_bit(Kind::Bichop) |
                                     kinds_bit(Kind::Silver) | kinds_bit(Kind::Knight) | kinds_bit(Kind::Lance);

#ifdef VELKORANT_MATE_SCREEN_STATS
// How often each step of the screen below ends it, printed at exit (a build for measuring).
inline long screen_stats[9];
inline const char* const kScreenSteps[9] = {"no free square",   "no flight",         "king seen past ours",
                                            "a drop fits",      "a board move fits", "no mate: no kind",
                                            "no mate: no place", "no mate: no piece", "calls"};
struct ScreenStatsPrinter {
    ~ScreenStatsPrinter() {
        for (int i = 0; i < 9; ++i) std::fprintf(stderr, "%s: %ld\n", kScreenSteps[i], screen_stats[i]);
    }
};
inline ScreenStatsPrinter screen_stats_printer;
#define SCREEN_ENDS(step, answer) return (++screen_stats[step], answer)
#else
#define SCREEN_ENDS(step, answer) return answer
#endif

// The kind whose places stand for k's: the kinds that move as a gold are a gold (a king never
// checks, and stands for none).
constexpr int kind_class(Kind k) {
    return k == Kind::King ? 0 : number(k) > number(Kind::Horse) ? number(Kind::Gold) : number(k);
}

// What the screen below learnt, for the walk: the king's flights that nothing attacks now (none
// until worked out), the squares our sliders see past our own pieces (all until worked out).
// Once the screen has looked at every drop and board move, `landing` holds the squares a mating
// board move might come to (every square until then); the squares by kind (landing_of), the
// sliders that reach them and the drops that might mate come with it (left unwritten until then).
struct Screened {
    u128 free = 0;
    u128 seen_past = ~u128{0};
    u128 landing = ~u128{0};
    u128 landing_as[number(Kind::Horse) + 1];
    u128 slider_sources;  // then also our sliders that reach a landing square
    std::uint16_t landing_kinds;  // and the kinds (kinds_bit) with landing squares
    // The kinds held whose drop might mate, and the squares of each (by kind number): a drop
    // needs the walk only then.
    std::uint16_t drop_kinds;
    u128 drop_at[number(Kind::Lance) + 1];
    // The squares a move arriving as kind k might come to, once the landing squares are named.
    u128 landing_of(Kind k) const {
        const int c = kind_class(k);
        return landing_kinds >> c & 1 ? landing_as[c] : 0;
    }
    bool landing_named() const { return landing != ~u128{0}; }
};

// Where the sliders of a kind go: as they are, promoting, and the already promoted ones (with
// their steps).
struct Landing {
    u128 plain = 0, promoting = 0, promoted = 0;
};

// A quick proof that side `Us` has no mate in one against king `king` (not in check): the king
// has flights that nothing attacks now, and no check can take them all. A check takes a flight
// only with the piece that checks or with a slider uncovered as that piece leaves its square.
// So the proof needs no discovered check (the piece moving off the line might go anywhere);
// no drop on an empty square whence the piece attacks all the flights; no piece on the board
// that can come, as it is or promoting, to a square whence it attacks all the flights but those
// one of our sliders sees past our own pieces, and where it is guarded if next to the king.
// False is no answer.
// What the screen finds: nothing sure, no mate for sure, or the king in check already (a
// position for the listed ways).
enum class Screen { open, no_mate, in_check };

template <int Us>
Screen surely_no_mate(const Board& board, unsigned king, const Movers& m, u128 own, u128 theirs, Screened& out) {
#ifdef VELKORANT_MATE_SCREEN_STATS
    ++screen_stats[8];
#endif
    using Window = std::uint64_t;
    constexpr int us = Us, them = Us ^ 1;
    constexpr int f = forward(us);
    const u128 occupied = own | theirs;
    const u128 near = step_attacks(them, Kind::King, king);
    const u128 ring = near & ~theirs;
    if (!ring) SCREEN_ENDS(0, attacked_by(m, us, own, king, occupied) ? Screen::in_check : Screen::open);
    const auto square = [&](int offset) { return static_cast<unsigned>(static_cast<int>(king) + offset); };
    // The window around the king (see kWindowKing), and back. The lowest eight indices are
    // wall: shifted out.
    const unsigned window_shift = 111 - king;
    const auto window = [&](u128 set) { return static_cast<Window>((set << 8) >> window_shift); };
    const auto unwindow = [&](Window w) { return (static_cast<u128>(w) << window_shift) >> 8; };
    const auto step = [](Window w, int offset) { return offset >= 0 ? w >> offset : w << -offset; };
    // What our pieces attack around the king, and `twice`: the squares two of them attack (a
    // dragon's or horse's step along its slide counted twice: a guard too many does no harm
    // here, one too few would).
    Window attacked = 0, twice = 0;
    const auto add = [&](Window reach) {
        twice |= attacked & reach;
        attacked |= reach;
    };
    // The stepping pieces near the king, a direction at a time for all that step that way:
    // pawns, silvers, golds (and the kinds that move as one), kings (a dragon or horse too: a
    // king's steps are what it attacks next to it). Which of them stand there is as good as
    // random, so no branch asks; and two pieces stepping the same way never meet on a square,
    // so `twice` comes out right. The steps are Black's turned around for White; a step off the
    // side lands on the wall, never on a square of the board.
    constexpr int g = us ? -1 : 1;
    const Window pawns_near = window(m.pawns & own), silvers_near = window(m.silvers & own),
                 golds_near = window(m.golds & own), kings_near = window(m.kinglike & own);
    const Window gold_ways = golds_near | kings_near, silver_ways = silvers_near | kings_near;
    const Window forward_ways = gold_ways | silvers_near;
    add(step(forward_ways | pawns_near, g * North));
    add(step(forward_ways, g * NorthWest));
    add(step(forward_ways, g * NorthEast));
    add(step(gold_ways, g * West));
    add(step(gold_ways, g * East));
    add(step(gold_ways, g * South));
    add(step(silver_ways, g * SouthWest));
    add(step(silver_ways, g * SouthEast));
    const u128 knights = m.knights & own & kNear.of[1][king];
    const u128 knights_left = shifted<2 * f - 1>(knights), knights_right = shifted<2 * f + 1>(knights);
    const u128 knight_reach = knights_left | knights_right;
    add(window(knights_left));
    add(window(knights_right));
    // The sliders on a line through the king or a neighbour (a dragon or a horse adds its
    // steps): what they see past our own pieces, counted as attacked. That is more than they
    // attack, the flights a piece leaving the line might uncover, and taking them away from the
    // free ones only weakens the proof. Where a slider might go is asked only once a square is
    // found that some piece would have to reach.
    const u128 rooks = m.rooks & own, bichops = m.bichops & own, lances = m.lances & own;
    const auto promoted_mask = [&](unsigned s) { return (m.kinglike & bit(s)) ? ~u128{0} : u128{0}; };
    const auto slider_steps = [&](unsigned s) { return step_attacks(us, Kind::King, s) & promoted_mask(s); };
    u128 seen_past = 0;
    const u128 ring_straight = kRingLines.of[0][king];
    for (u128 rest = rooks & ring_straight; rest;) {
        const unsigned s = pop_lowest(rest);
        const u128 reach = rook_attacks(s, theirs) | slider_steps(s);
        seen_past |= reach;
        add(window(reach));
    }
    for (u128 rest = lances & ring_straight; rest;) {
        const u128 reach = lance_attacks(us, pop_lowest(rest), theirs);
        seen_past |= reach;
        add(window(reach));
    }
    for (u128 rest = bichops & kRingLines.of[1][king]; rest;) {
        const unsigned s = pop_lowest(rest);
        const u128 reach = bichop_attacks(s, theirs) | slider_steps(s);
        seen_past |= reach;
        add(window(reach));
    }
    // The king attacked (a position for the listed ways), or seen past our own pieces by a
    // slider: a piece leaving the line might give a discovered check from anywhere, so no proof,
    // but the other moves check only with the piece that moves, and the squares they might
    // mate from are worked out below as for any position (the walk takes every piece that might
    // uncover a slider besides).
    const bool uncovering = attacked >> kWindowKing & 1;
    if (uncovering && attacked_by(m, us, own, king, occupied)) SCREEN_ENDS(2, Screen::in_check);
    // The kinds whose drop might mate (found below), and their squares in out.drop_at.
    std::uint16_t dropping = 0;
    // No board move lands where it might mate: left to the walk are only the pieces that
    // uncover a slider and the drops.
    const auto none_but_uncovering = [&](int step) {
#ifdef VELKORANT_MATE_SCREEN_STATS
        ++screen_stats[uncovering ? 2 : dropping ? 3 : step];
#else
        (void)step;
#endif
        if (!uncovering && !dropping) return Screen::no_mate;
        out.landing = 0, out.landing_kinds = 0, out.slider_sources = 0, out.drop_kinds = dropping;
        return Screen::open;
    };
    const Window ring_near = window(ring);
    // (A flight behind the king on an uncovered slider's line is not free: none is counted so.)
    out.free = uncovering ? 0 : unwindow(ring_near & ~attacked);
    out.seen_past = seen_past;
    const unsigned flights = flights_of(ring_near & ~attacked);
    if (!flights) SCREEN_ENDS(1, Screen::open);

    // Gold stands for every kind that moves as a gold. When no kind can take the flights, no
    // drop can take them all either.
    constexpr std::uint16_t kClasses = kinds_bit(Kind::Gold) | kinds_bit(Kind::Rook) | kinds_bit(Kind::Bichop) |
                                       kinds_bit(Kind::Silver) | kinds_bit(Kind::Knight) | kinds_bit(Kind::Lance) |
                                       kinds_bit(Kind::Pawn) | kinds_bit(Kind::Dragon) | kinds_bit(Kind::Horse);
    static_assert((kDropKinds & ~kClasses) == 0);
    std::uint16_t fit = kPlaces.kinds[us][flights] & kClasses;
    if (!fit) return none_but_uncovering(5);

    // The squares of a set of slots, on the board and not ours: those near the king in the
    // window, those further along a line (up to the first piece) as a set of the board. A slot
    // two off or further counts only past an empty neighbour (open_ways, by direction).
    const u128 empty = ~occupied & kPlaying;
    const Window empty_near = window(empty), standing = window(kPlaying & ~own);
    const unsigned open_ways = kSlotSquares.ways_of_flights[flights_of(empty_near)];
    const auto places_near = [&](std::uint32_t slots) {
        return (kSlotSquares.next[slots & 0xff] | kSlotSquares.two[slots >> 8 & open_ways] |
                kSlotSquares.knight[us][slots >> 16 & 3]) &
               standing;
    };
    const auto places_far = [&](std::uint32_t slots) {
        u128 found = 0;
        for (unsigned ways = slots >> 18 & open_ways; ways; ways &= ways - 1) {
            const unsigned j = static_cast<unsigned>(std::countr_zero(ways));
            const unsigned two = square(2 * kDirections[j]);
            if (!(empty & bit(two))) continue;
            const u128 ray = kTables.rays[j][two];
            const u128 hit = ray & occupied;
            found |= hit ? ray & ~kTables.rays[j][kDirections[j] > 0 ? lowest_index(hit) : highest_index(hit)] : ray;
        }
        return found & ~own;
    };

    // Drops (a pawn drop never mates): the slots of every kind held, at once. A piece dropped
    // next to the king is taken unless one of ours attacks its square.
    const Window neighbours = window(near);
    const std::uint8_t* hand = board.hand.counts.data() + 8 * us;
    const unsigned held = held_kinds(hand) & kDropKinds;
    const std::uint32_t* const for_flights = kPlaces.of[us][flights];
    const auto if_held = [&](Kind k) { return for_flights[number(k)] & (0u - (held >> number(k) & 1)); };
    const std::uint32_t drop_slots = if_held(Kind::Gold) | if_held(Kind::Rook) | if_held(Kind::Bichop) |
                                     if_held(Kind::Silver) | if_held(Kind::Knight) | if_held(Kind::Lance);
    // When some drop fits, the squares of each kind held, for the walk; the board moves are
    // looked at as ever.
    const Window dropped_near = empty_near & (~neighbours | attacked);
    if ((places_near(drop_slots) & dropped_near) || (places_far(drop_slots) & empty))
        for (unsigned rest = held; rest; rest &= rest - 1) {
            const int kind = std::countr_zero(rest);
            const u128 at = unwindow(places_near(for_flights[kind]) & dropped_near) | (places_far(for_flights[kind]) & empty);
            out.drop_at[kind] = at;
            dropping |= at ? static_cast<std::uint16_t>(1u << kind) : std::uint16_t{0};
        }

    // A piece that comes next to the king is taken unless another guards it: one that attacks
    // the square already, or a slider behind it. First the squares some kind would have to come
    // to, the slots of every kind at once: when there are none, nothing is left to ask of our
    // pieces. (The kinds that move as a gold have the gold's slots.)
    const Window guarded = ~neighbours | twice | window(seen_past);
    std::uint32_t any_slots = 0;
    for (int k = 0; k < 16; ++k) any_slots |= for_flights[k];
    if (!(places_near(any_slots) & guarded) && !places_far(any_slots)) return none_but_uncovering(6);
    u128 wanted[number(Kind::Horse) + 1];  // written for each kind that fits
    std::uint16_t wanting = 0;
    for (; fit; fit &= fit - 1) {
        const int kind = std::countr_zero(fit);
        wanted[kind] = unwindow(places_near(for_flights[kind]) & guarded) | places_far(for_flights[kind]);
        wanting |= wanted[kind] ? static_cast<std::uint16_t>(1u << kind) : std::uint16_t{0};
    }
    if (!wanting) return none_but_uncovering(7);

    // Where the sliders go: as they are, promoting, and the already promoted ones (with their
    // steps); only the sliders of the kinds that arrive as a wanted kind.
    const u128 zone = Board::promotion_zone[us].to_u128();
    Landing straight, diagonal, lance;
    // Each slider's square and reach, to tell at the end those that reach a landing square.
    u128 slid[8];
    unsigned slid_from[8], slides = 0;
    const auto land = [&](Landing& l, unsigned from, u128 reach) {
        slid[slides & 7] = reach, slid_from[slides & 7] = from, ++slides;
        const u128 promoted = promoted_mask(from);
        const u128 into = kTables.in_zone[us][from] ? ~u128{0} : zone;
        l.plain |= reach & ~promoted;
        l.promoting |= reach & into & ~promoted;
        l.promoted |= reach & promoted;
    };
    if (wanting & (kinds_bit(Kind::Rook) | kinds_bit(Kind::Dragon)))
        for (u128 rest = rooks; rest;) {
            const unsigned s = pop_lowest(rest);
            land(straight, s, rook_attacks(s, occupied) | slider_steps(s));
        }
    if (wanting & (kinds_bit(Kind::Bichop) | kinds_bit(Kind::Horse)))
        for (u128 rest = bichops; rest;) {
            const unsigned s = pop_lowest(rest);
            land(diagonal, s, bichop_attacks(s, occupied) | slider_steps(s));
        }
    if (wanting & (kinds_bit(Kind::Lance) | kinds_bit(Kind::Gold)))
        for (u128 rest = lances; rest;) {
            const unsigned s = pop_lowest(rest);
            land(lance, s, lance_attacks(us, s, occupied));
        }
    // What each way of stepping reaches. A stepping piece promotes coming into the zone or
    // leaving it: a silver may step back out of it, a pawn or knight only forward. (A square
    // one row short of the zone for every promoting silver: a way too many does no harm here.)
    const u128 zone_and_before = zone | shifted<-f>(zone);
    const u128 pawns_arrive = unwindow(step(pawns_near, g * North));
    const u128 silvers_arrive =
        unwindow(step(silvers_near, g * North) | step(silvers_near, g * NorthWest) | step(silvers_near, g * NorthEast) |
                 step(silvers_near, g * SouthWest) | step(silvers_near, g * SouthEast));
    const u128 golds_arrive =
        unwindow(step(golds_near, g * North) | step(golds_near, g * NorthWest) | step(golds_near, g * NorthEast) |
                 step(golds_near, g * West) | step(golds_near, g * East) | step(golds_near, g * South));
    const u128 arrives_gold = golds_arrive | ((pawns_arrive | knight_reach) & zone) | (silvers_arrive & zone_and_before) |
                              lance.promoting;
    // By kind number, Gold to Horse: the squares a piece of ours reaches arriving as that kind.
    const u128 arrives[number(Kind::Horse) + 1] = {0,
                                                   0,
                                                   arrives_gold,
                                                   straight.plain,
                                                   diagonal.plain,
                                                   silvers_arrive,
                                                   knight_reach,
                                                   lance.plain,
                                                   pawns_arrive,
                                                   straight.promoted | straight.promoting,
                                                   diagonal.promoted | diagonal.promoting};
    // Where some piece arrives as a kind that would take the flights, guarded: the only squares
    // a mating move can come to.
    u128 landing = 0;
    out.landing_kinds = wanting;
    for (; wanting; wanting &= wanting - 1) {
        const int kind = std::countr_zero(wanting);
        out.landing_as[kind] = wanted[kind] & arrives[kind];
        landing |= out.landing_as[kind];
    }
    if (!landing) return none_but_uncovering(7);
    out.landing = landing;
    out.drop_kinds = dropping;
    // A slider not looked at above arrives as no kind that has a landing square. (More than
    // eight, on a board no game reaches, are all kept.)
    u128 sources = slides > 8 ? rooks | bichops | lances : 0;
    for (unsigned i = 0; i < slides && i < 8; ++i)
        if (slid[i] & landing) sources |= bit(slid_from[i]);
    out.slider_sources = sources;
    SCREEN_ENDS(4, Screen::open);
}
}  // namespace velkorant::mate_screen

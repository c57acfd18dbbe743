// The attacker's checks and mate in one, without listing the legal moves. The moves that might
// check are walked in legal_moves order: the pieces near the defending king or sliding onto it,
// the pieces that stand between it and one of the attacker's sliders, then the drops. Each is
// kept when it checks (the moved piece reaches the king, or a slider it uncovers does) and is
// legal (a pinned piece stays on its line, the king steps where nothing attacks it, a pawn drop
// does not mate).
//
// For mate in one the position is first screened for a quick proof that no check mates (most
// positions have none): the king's free flights, and whether any drop or move could put a piece
// where it takes them all (surely_no_mate). Then each check is looked at for the defender's
// quick answers: a king step to a square nothing attacks, a capture of a lone checker, an
// interposition. Only a check none of these answers is played out on a copy and tried in full,
// so the answer is the first checkmate of legal_moves. (A pawn drop never mates: one that would
// is illegal.)
//
// Odd positions are left to the listed moves (checks.cpp): the defender with two kings or in check
// already, the attacker with two kings or in check.
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <type_traits>
#ifdef VELKORANT_MATE_SCREEN_STATS
#include <cstdio>
#endif

#include "velkorant/attacks.hpp"
#include "velkorant/checks.hpp"
#include "velkorant/cloned.hpp"
#include "velkorant/legal.hpp"

namespace velkorant {

namespace {

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

constexpr Near kNear = make_near();

// The board's pieces by the way they move, of both sides.
struct Movers {
    u128 pawns, knights, silvers, golds, kinglike, rooks, bichops, lances;
};

Movers movers_of(const Board& board) {
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
u128 alone_between(unsigned k, u128 occupied, u128 mine, u128 straight, u128 diagonal, u128 lances, Direction lance_way) {
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
// 18 + j), a knight's jump off (slots 16 and 17, the lower index first). kPlaces.of[us][kind]
// [flights] holds the slots whence a piece of that kind of side `us`, checking, attacks every
// flight of `flights` (bit i: the king's neighbour kRing[i] away); kPlaces.kinds[us]
// [flights] the kinds with any such slot. Worked out on an empty board around a king in the
// middle: pieces in the way only shorten a reach and an edge only takes squares away, so a slot
// missing here cannot do it on the real board either. A slider's reach runs on through the
// king's square, as it does once the king steps away.
struct Places {
    std::uint32_t of[2][kKinds][256];
    std::uint16_t kinds[2][256];
};

// The square the tables below are worked out around: every step and knight's jump from it stays
// on the board.
constexpr unsigned kMiddle = 60;

// The king's neighbours as bits of a set of flights, from the highest index down: the sets
// are read off the board in one piece (flights_of).
constexpr int kRing[8] = {12, 11, 10, 1, -1, -10, -11, -12};

// The squares of `set` around the king, as a set of flights.
inline unsigned flights_of(u128 set, unsigned king) {
    const auto w = static_cast<unsigned>(static_cast<std::uint32_t>(set >> (127 - (king + 12))));
    return (w & 7) | (w >> 8 & 8) | (w >> 9 & 16) | (w >> 17 & 0xe0);
}

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

constexpr RingLines kRingLines = make_ring_lines();

// Shifts a set by `offset` indices.
inline u128 shifted(u128 set, int offset) { return offset >= 0 ? set >> offset : set << -offset; }

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
                        p.of[us][k][f] |= 1u << slot;
                        p.kinds[us][f] |= static_cast<std::uint16_t>(1u << k);
                    }
            }
        }
    }
    return p;
}

constexpr Places kPlaces = make_places();

constexpr int kKnightOffsets[2][2] = {{knight_offset(0, 0), knight_offset(0, 1)}, {knight_offset(1, 0), knight_offset(1, 1)}};

// The squares of the slots next to the king and two off (bit j: along kDirections[j]) and of the
// two knight's slots of each side, around a king on kMiddle: shifted to the real king, a set of
// slots becomes its squares in three loads, without a branch per direction.
struct SlotSquares {
    u128 next[256], two[256], knight[2][4];
    // The king's neighbours as kDirections bits, from a set of flights (bits in kRing order).
    std::uint8_t ways_of_flights[256];
};

constexpr SlotSquares make_slot_squares() {
    SlotSquares t{};
    for (unsigned set = 0; set < 256; ++set)
        for (unsigned j = 0; j < 8; ++j) {
            if (!(set >> j & 1)) continue;
            t.next[set] |= bit(static_cast<unsigned>(static_cast<int>(kMiddle) + kDirections[j]));
            t.two[set] |= bit(static_cast<unsigned>(static_cast<int>(kMiddle) + 2 * kDirections[j]));
        }
    for (unsigned set = 0; set < 256; ++set)
        for (unsigned i = 0; i < 8; ++i)
            if (set >> i & 1)
                for (unsigned j = 0; j < 8; ++j)
                    if (kDirections[j] == kRing[i]) t.ways_of_flights[set] |= static_cast<std::uint8_t>(1u << j);
    for (int us = 0; us < 2; ++us)
        for (unsigned set = 0; set < 4; ++set)
            for (int i = 0; i < 2; ++i)
                if (set >> i & 1) t.knight[us][set] |= bit(static_cast<unsigned>(static_cast<int>(kMiddle) + kKnightOffsets[us][i]));
    return t;
}

constexpr SlotSquares kSlotSquares = make_slot_squares();

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
constexpr std::uint16_t kDropKinds = kinds_bit(Kind::Gold) | kinds_bit(Kind::Rook) | kinds_bit(Kind::Bichop) |
                                     kinds_bit(Kind::Silver) | kinds_bit(Kind::Knight) | kinds_bit(Kind::Lance);

#ifdef VELKORANT_MATE_SCREEN_STATS
// How often each step of the screen below ends it, printed at exit (a build for measuring).
long screen_stats[9];
const char* const kScreenSteps[9] = {"no free square",   "no flight",         "discovered check",
                                     "a drop fits",      "every flight seen", "a board move fits",
                                     "no mate: no kind", "no mate: no piece", "calls"};
struct ScreenStatsPrinter {
    ~ScreenStatsPrinter() {
        for (int i = 0; i < 9; ++i) std::fprintf(stderr, "%s: %ld\n", kScreenSteps[i], screen_stats[i]);
    }
} screen_stats_printer;
#define SCREEN_ENDS(step, answer) return (++screen_stats[step], answer)
#else
#define SCREEN_ENDS(step, answer) return answer
#endif

// What the screen below learnt, for the walk: the king's flights that nothing attacks now (none
// until worked out), the squares our sliders see past our own pieces (all until worked out).
// Once the screen has ruled the drops out, `landing` holds the squares a mating board move
// might come to (every square until then).
struct Screened {
    u128 free = 0;
    u128 seen_past = ~u128{0};
    u128 landing = ~u128{0};
    bool drops_ruled_out() const { return landing != ~u128{0}; }
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
    constexpr int us = Us, them = Us ^ 1;
    constexpr int f = forward(us);
    const u128 occupied = own | theirs;
    const u128 ring = step_attacks(them, Kind::King, king) & ~theirs;
    if (!ring) SCREEN_ENDS(0, attacked_by(m, us, own, king, occupied) ? Screen::in_check : Screen::open);
    const auto square = [&](int offset) { return static_cast<unsigned>(static_cast<int>(king) + offset); };
    // What our pieces attack around the king: the steps of those near it, then each slider on
    // a line through the king's square or a neighbour. `twice`: the squares two of them attack
    // (a dragon's or horse's step along its slide counted twice: a guard too many does no harm
    // here, one too few would).
    const u128 rooks = m.rooks & own, bichops = m.bichops & own, lances = m.lances & own;
    const u128 knights = m.knights & own & kNear.of[1][king];
    u128 attacked = 0, twice = 0;
    const auto add = [&](u128 reach) {
        twice |= attacked & reach;
        attacked |= reach;
        return reach;
    };
    const auto steps = [&](u128 pieces, auto... offsets) { return (add(shifted(pieces, offsets)) | ...); };
    // The stepping pieces near the king, a direction at a time for all that step that way:
    // pawns, silvers, golds (and the kinds that move as one), kings (a dragon or horse too: a
    // king's steps are what it attacks next to it). Which of them stand there is as good as
    // random, so no branch asks; and two pieces stepping the same way never meet on a square,
    // so `twice` comes out right. The steps are Black's turned around for White; a step off the
    // side lands on the wall, never on a square of the board.
    //
    // They are stepped in a 64-bit window of the board around the king (bit b: index king + 24
    // - b, two rows and two columns each way and more), where a step is one shift.
    constexpr int g = us ? -1 : 1;
    const unsigned window_shift = 111 - king;  // the lowest eight indices are wall: shifted out
    const auto window = [&](u128 set) { return static_cast<std::uint64_t>((set << 8) >> window_shift); };
    const auto unwindow = [&](std::uint64_t w) { return (static_cast<u128>(w) << window_shift) >> 8; };
    const auto step = [](std::uint64_t w, int offset) { return offset >= 0 ? w >> offset : w << -offset; };
    const std::uint64_t pawns_near = window(m.pawns & own), silvers_near = window(m.silvers & own),
                        golds_near = window(m.golds & own), kings_near = window(m.kinglike & own);
    {
        const std::uint64_t gold_ways = golds_near | kings_near, silver_ways = silvers_near | kings_near;
        const std::uint64_t forward_ways = gold_ways | silvers_near;
        std::uint64_t attacked_near = 0, twice_near = 0;
        for (const std::uint64_t reach :
             {step(forward_ways | pawns_near, g * North), step(forward_ways, g * NorthWest), step(forward_ways, g * NorthEast),
              step(gold_ways, g * West), step(gold_ways, g * East), step(gold_ways, g * South),
              step(silver_ways, g * SouthWest), step(silver_ways, g * SouthEast)}) {
            twice_near |= attacked_near & reach;
            attacked_near |= reach;
        }
        attacked = unwindow(attacked_near);
        twice = unwindow(twice_near);
    }
    // What each way of stepping reaches, for where a piece may arrive: only wanted once the
    // flights leave a kind that might mate.
    const auto pawn_reach = [&] { return unwindow(step(pawns_near, g * North)); };
    const auto silver_reach = [&] {
        return unwindow(step(silvers_near, g * North) | step(silvers_near, g * NorthWest) |
                        step(silvers_near, g * NorthEast) | step(silvers_near, g * SouthWest) |
                        step(silvers_near, g * SouthEast));
    };
    const auto gold_reach = [&] {
        return unwindow(step(golds_near, g * North) | step(golds_near, g * NorthWest) | step(golds_near, g * NorthEast) |
                        step(golds_near, g * West) | step(golds_near, g * East) | step(golds_near, g * South));
    };
    const u128 knight_reach = steps(knights, 2 * f - 1, 2 * f + 1);
    // Each slider's reach: a dragon or a horse (the sliders that also step as a king) adds its
    // steps. Where it lands: as it is and promoting, or, promoted already, as it is.
    const u128 zone = Board::promotion_zone[us].to_u128();
    const auto promoted_mask = [&](unsigned s) { return (m.kinglike & bit(s)) ? ~u128{0} : u128{0}; };
    const auto slider_steps = [&](unsigned s) { return step_attacks(us, Kind::King, s) & promoted_mask(s); };
    Landing straight, diagonal, lance;
    const auto land = [&](Landing& l, unsigned from, u128 reach) {
        const u128 promoted = promoted_mask(from);
        const u128 into = kTables.in_zone[us][from] ? ~u128{0} : zone;
        l.plain |= reach & ~promoted;
        l.promoting |= reach & into & ~promoted;
        l.promoted |= reach & promoted;
    };
    // The sliders on a line through the king or a neighbour, and what they see past our own
    // pieces (the flights a piece leaving the line might uncover).
    u128 seen_past = 0;
    const u128 ring_straight = kRingLines.of[0][king];
    const u128 lined = (rooks | lances) & ring_straight, crossed = bichops & kRingLines.of[1][king];
    for (u128 rest = rooks & ring_straight; rest;) {
        const unsigned s = pop_lowest(rest);
        const u128 steps = slider_steps(s);
        land(straight, s, add(rook_attacks(s, occupied) | steps));
        seen_past |= rook_attacks(s, theirs) | steps;
    }
    for (u128 rest = lances & ring_straight; rest;) {
        const unsigned s = pop_lowest(rest);
        land(lance, s, add(lance_attacks(us, s, occupied)));
        seen_past |= lance_attacks(us, s, theirs);
    }
    for (u128 rest = crossed; rest;) {
        const unsigned s = pop_lowest(rest);
        const u128 steps = slider_steps(s);
        land(diagonal, s, add(bichop_attacks(s, occupied) | steps));
        seen_past |= bichop_attacks(s, theirs) | steps;
    }
    if (attacked & bit(king)) return Screen::in_check;
    out.free = ring & ~attacked;
    const unsigned flights = flights_of(out.free, king);
    if (!flights) SCREEN_ENDS(1, Screen::open);
    // A slider that sees the king past our own pieces (not in check, so past one at least)
    // might give a discovered check: nothing sure then.
    if (seen_past & bit(king)) SCREEN_ENDS(2, Screen::open);

    // Moves: the flights one of our sliders sees past our own pieces might be uncovered. When
    // no kind can take the others, no drop can take them all either (a drop uncovers nothing).
    out.seen_past = seen_past;
    const unsigned seen = flights & ~flights_of(seen_past, king);
    // Gold stands for every kind that moves as a gold.
    constexpr std::uint16_t kClasses = kinds_bit(Kind::Gold) | kinds_bit(Kind::Rook) | kinds_bit(Kind::Bichop) |
                                       kinds_bit(Kind::Silver) | kinds_bit(Kind::Knight) | kinds_bit(Kind::Lance) |
                                       kinds_bit(Kind::Pawn) | kinds_bit(Kind::Dragon) | kinds_bit(Kind::Horse);
    static_assert((kDropKinds & ~kClasses) == 0);
    std::uint16_t fit = kPlaces.kinds[us][seen] & kClasses;
    if (!fit) SCREEN_ENDS(6, Screen::no_mate);

    const u128 empty = ~occupied & kPlaying;
    // The squares, on the board and not ours, whence a piece of `kind` standing there attacks
    // all of `cover`: up to the first piece for a slot further along a line.
    // A slot two off or further counts only past an empty neighbour (open_ways, by direction).
    const unsigned open_ways = kSlotSquares.ways_of_flights[flights_of(empty, king)];
    const int from_middle = static_cast<int>(king) - static_cast<int>(kMiddle);
    const auto places = [&](int kind, unsigned cover) {
        const std::uint32_t slots = kPlaces.of[us][kind][cover];
        u128 found = shifted(kSlotSquares.next[slots & 0xff] | kSlotSquares.two[slots >> 8 & open_ways] |
                                 kSlotSquares.knight[us][slots >> 16 & 3],
                             from_middle);
        for (unsigned ways = slots >> 18 & open_ways; ways; ways &= ways - 1) {
            const unsigned j = static_cast<unsigned>(std::countr_zero(ways));
            const unsigned two = square(2 * kDirections[j]);
            if (!(empty & bit(two))) continue;
            const u128 ray = kTables.rays[j][two];
            const u128 hit = ray & occupied;
            found |= hit ? ray & ~kTables.rays[j][kDirections[j] > 0 ? lowest_index(hit) : highest_index(hit)] : ray;
        }
        return found & kPlaying & ~own;
    };

    // Drops (a pawn drop never mates).
    const std::uint8_t* hand = board.hand.counts.data() + 8 * us;
    const std::uint16_t held = held_kinds(hand) & kDropKinds;
    for (std::uint16_t fit = held & kPlaces.kinds[us][flights]; fit; fit &= fit - 1)
        if (places(std::countr_zero(fit), flights) & empty) SCREEN_ENDS(3, Screen::open);

    if (!seen) SCREEN_ENDS(4, Screen::open);
    // The sliders off the king's lines, only now needed.
    if (fit & (kinds_bit(Kind::Rook) | kinds_bit(Kind::Dragon)))
        for (u128 rest = rooks & ~lined; rest;) {
            const unsigned s = pop_lowest(rest);
            land(straight, s, rook_attacks(s, occupied) | slider_steps(s));
        }
    if (fit & (kinds_bit(Kind::Bichop) | kinds_bit(Kind::Horse)))
        for (u128 rest = bichops & ~crossed; rest;) {
            const unsigned s = pop_lowest(rest);
            land(diagonal, s, bichop_attacks(s, occupied) | slider_steps(s));
        }
    if (fit & (kinds_bit(Kind::Lance) | kinds_bit(Kind::Gold)))
        for (u128 rest = lances & ~lined; rest;) {
            const unsigned s = pop_lowest(rest);
            land(lance, s, lance_attacks(us, s, occupied));
        }
    // A stepping piece promotes coming into the zone or leaving it: a silver may step back out
    // of it, a pawn or knight only forward. (A square one row short of the zone for every
    // promoting silver: a way too many does no harm here.)
    const u128 zone_and_before = zone | shifted(zone, -f);
    const u128 pawns_arrive = pawn_reach(), silvers_arrive = silver_reach();
    const u128 arrives_gold = gold_reach() | ((pawns_arrive | knight_reach) & zone) | (silvers_arrive & zone_and_before) |
                              lance.promoting;
    // A piece that comes next to the king is taken unless another guards it: one that attacks
    // the square already, or a slider behind it.
    const u128 guarded = ~step_attacks(them, Kind::King, king) | twice | seen_past;
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
    for (; fit; fit &= fit - 1) {
        const int kind = std::countr_zero(fit);
        landing |= places(kind, seen) & guarded & arrives[kind];
    }
    if (!landing) SCREEN_ENDS(7, Screen::no_mate);
    out.landing = landing;
    SCREEN_ENDS(5, Screen::open);
}

// How a kind slides onto the king: 0 not at all, 1 straight, 2 diagonally, 3 as a lance.
constexpr std::uint8_t kSlideWay[kKinds] = {0, 0, 0, 1, 2, 0, 0, 3, 0, 1, 2, 0, 0, 0, 0};
static_assert(kSlideWay[number(Kind::Rook)] == 1 && kSlideWay[number(Kind::Dragon)] == 1 &&
              kSlideWay[number(Kind::Bichop)] == 2 && kSlideWay[number(Kind::Horse)] == 2 &&
              kSlideWay[number(Kind::Lance)] == 3);

// A check about to be looked at: the piece (of kind `kind` on arrival) comes to `to` from the
// square of `from_bit` (0 for a drop); `reach` is what it attacks there with the defending king
// gone, `checkers` every piece that attacks that king once the move is played.
struct Check {
    Move move;
    u128 from_bit;
    unsigned to;
    Kind kind;
    u128 reach, checkers;
};

// One position's walk over the checks of side `us`, whose opponent has the one king `king` and
// is not in check. A walk that lists the checks knows the attacker's pins, and the attacker has
// at most one king and is not in check; one that only looks for a mate leaves the attacker's
// legality to the few checks it plays out.
template <bool Listing>
struct Walk {
    const Board& board;
    Color side;
    int us, them;
    unsigned king;
    Movers m;
    u128 own, theirs, occupied;
    u128 rooks, bichops, lances;  // the attacker's sliders
    u128 our_kings;
    u128 king_lines;              // every line through the defending king
    u128 straight, diagonal;      // what a rook, a bishop on the king's square reaches
    u128 slides_onto_king[4] = {}; // by kSlideWay: nothing, straight, diagonal, a lance's way
    u128 discoverers;             // the attacker's pieces alone between the king and a slider
    mutable u128 pinned = 0;      // the attacker's pieces alone between its own king and a slider
    mutable bool safety_known = false, unsafe = false;  // see settled()
    Screened screened;            // for mate in one: what the screen learnt

    Walk(const Board& b, Color s, int u, unsigned k, const Movers& movers)
        : board(b), side(s), us(u), them(u ^ 1), king(k), m(movers) {
        own = board.color_boards[us].to_u128();
        theirs = board.color_boards[them].to_u128();
        occupied = own | theirs;
        rooks = m.rooks & own, bichops = m.bichops & own, lances = m.lances & own;
        our_kings = board.piece_boards[number(Kind::King)].to_u128() & own;
        king_lines = kTables.lines[0][king] | kTables.lines[1][king];
        straight = rook_attacks(king, occupied);
        diagonal = bichop_attacks(king, occupied);
        // A lance reaches the king along the part of its column on the lance's side.
        slides_onto_king[1] = straight, slides_onto_king[2] = diagonal;
        slides_onto_king[3] = straight & kTables.rays[ray_of(forward(them))][king];
        discoverers = alone_between(king, occupied, own, rooks, bichops, lances, forward(them));
    }

    // For a walk that lists: whether the attacker's king is out of check, learnt (with its
    // pins) only once a check is about to be kept: many positions have none, and then whether
    // it is in check changes nothing. In check, the walk stops and `unsafe` sends the position
    // to the listed ways.
    bool settled() const {
        if (!safety_known) {
            safety_known = true;
            if (our_kings) {
                const unsigned k = lowest_index(our_kings);
                if (attacked_by(m, them, theirs, k, occupied)) return !(unsafe = true);
                pinned = alone_between(k, occupied, own, m.rooks & theirs, m.bichops & theirs, m.lances & theirs,
                                       forward(us));
            }
        }
        return !unsafe;
    }

    // The squares whence a piece of `kind` of the attacker reaches the king: its steps from
    // there (a dragon's diagonal ones, a horse's straight ones) and its slides, two loads
    // rather than a jump by kind.
    u128 checking(Kind kind) const { return step_attacks(them, kind, king) | slides_onto_king[kSlideWay[number(kind)]]; }

    // The king attacked by a piece of the attacker's (a position for the listed ways).
    bool king_attacked() const {
        return steppers_onto(m, us, own, king) ||
               ((straight & rooks) | (diagonal & bichops) | (slides_onto_king[3] & lances));
    }

    // The attacker's sliders once the piece has come to `to` from `from_bit`, less `gone`, that
    // reach the king over `occ`.
    u128 lined(u128 from_bit, unsigned to, Kind kind, u128 occ, u128 gone) const {
        const u128 to_bit = bit(to);
        u128 r = rooks & ~from_bit, b = bichops & ~from_bit, l = lances & ~from_bit;
        if (slides_straight(kind)) r |= to_bit;
        if (slides_diagonal(kind)) b |= to_bit;
        if (kind == Kind::Lance) l |= to_bit;
        return ((rook_attacks(king, occ) & r) | (bichop_attacks(king, occ) & b) | (lance_attacks(them, king, occ) & l)) &
               ~gone;
    }

    // The check the move makes: its reach and checkers filled in, none when it does not check.
    Check check_of(Move move, u128 from_bit, unsigned to, Kind kind) const {
        const u128 to_bit = bit(to);
        const u128 after = (occupied & ~from_bit) | to_bit;
        // The moved piece's reach with the king gone: a slide through the king covers the
        // square behind it.
        const u128 reach = attacks(us, kind, to, after & ~bit(king));
        u128 checkers = reach & bit(king) ? to_bit : 0;
        if (discoverers & from_bit) checkers |= lined(from_bit, to, kind, after, to_bit);
        return Check{move, from_bit, to, kind, reach, checkers};
    }

    // A board move of the attacker's, known to be one of its pseudo-legal moves, leaves its king
    // unattacked: a pinned piece stays on the line of its pin, the king steps where nothing
    // attacks it.
    bool legal(unsigned from, unsigned to) const {
        const u128 from_bit = bit(from);
        if (our_kings & from_bit)
            return !attacked_by(m, them, theirs & ~bit(to), to, (occupied & ~from_bit) | bit(to));
        if (!(pinned & from_bit)) return true;
        const unsigned k = lowest_index(our_kings);
        for (unsigned d = 0; d < 8; ++d)
            if (kTables.rays[d][k] & from_bit) return (kTables.rays[d][k] & bit(to)) != 0;
        return false;
    }

    // Whether the defender surely has a reply to the check: a king step to a square nothing
    // attacks, a capture of a lone checker or an interposition, by a piece that leaves no line
    // open onto its king. False means the check is to be tried in full.
    bool answered(const Check& c) const {
        const u128 to_bit = bit(c.to);
        const u128 after = (occupied & ~c.from_bit) | to_bit;
        const u128 kingless = after & ~bit(king);
        const u128 defenders = theirs & ~to_bit;
        const u128 others = own & ~c.from_bit;
        // A flight nothing attacked before the move stays free unless the moved piece takes it
        // or a slider sees it through the square left.
        if (screened.free & ~c.reach & (c.from_bit ? ~screened.seen_past : ~u128{0})) return true;
        for (u128 flights = step_attacks(them, Kind::King, king) & ~defenders & ~c.reach; flights;)
            if (!attacked_by(m, us, others, pop_lowest(flights), kingless)) return true;
        if (c.checkers & (c.checkers - 1)) return false;  // a double check: only the king could answer

        const unsigned checker = lowest_index(c.checkers);
        const u128 guards = defenders & ~bit(king);
        const auto answers = [&](u128 pieces, unsigned onto) {
            for (; pieces;) {
                const unsigned p = pop_lowest(pieces);
                if (!(king_lines & bit(p))) return true;
                if (!lined(c.from_bit, c.to, c.kind, (after & ~bit(p)) | bit(onto), c.checkers)) return true;
            }
            return false;
        };
        if (answers(attackers_onto(m, them, guards, checker, after), checker)) return true;
        u128 between = 0;
        for (unsigned d = 0; d < 8; ++d)
            if (kTables.rays[d][king] & c.checkers) {
                between = kTables.rays[d][king] & ~kTables.rays[d][checker] & ~c.checkers;
                break;
            }
        if (!between) return false;
        const std::uint8_t* hand = board.hand.counts.data() + 8 * them;
        const auto held = [&](Kind k) { return hand[number(k) - 1] != 0; };
        if (held(Kind::Gold) || held(Kind::Rook) || held(Kind::Bichop) || held(Kind::Silver)) return true;
        u128 dropped = 0;
        if (held(Kind::Knight)) dropped |= ~Board::last_two_rows[them].to_u128();
        if (held(Kind::Lance)) dropped |= ~Board::last_row[them].to_u128();
        if (held(Kind::Pawn)) {
            // No second unpromoted pawn in a column, and none that checks the attacker's king
            // (it might mate it, which the rules forbid): left to the full test.
            u128 pawn_rows = ~Board::last_row[them].to_u128();
            for (u128 pawns = m.pawns & defenders; pawns;) pawn_rows &= ~kTables.columns[pop_lowest(pawns) % 11];
            for (u128 kings = our_kings; kings;) pawn_rows &= ~step_attacks(us, Kind::Pawn, pop_lowest(kings));
            dropped |= pawn_rows;
        }
        if (between & dropped) return true;
        for (u128 rest = between; rest;) {
            const unsigned s = pop_lowest(rest);
            if (answers(attackers_onto(m, them, guards, s, after), s)) return true;
        }
        return false;
    }

    // The move, legal for the attacker, leaves the defender no legal move.
    bool mates(Move move) const {
        if (!Listing && !is_legal(board, side, move)) return false;
        Board child = board;
        play_legal(child, move);
        return !has_legal_move(child, opponent(side));
    }

    // The check mates (a pawn drop never does).
    bool mates(const Check& c) const {
        if (c.move.is_drop() && c.kind == Kind::Pawn) return false;
        return !answered(c) && mates(c.move);
    }

    // Calls visit(check) for each legal check in legal_moves order until it returns true, and
    // returns that check's move. Without `Reach` the visitor reads only the move: a check by the
    // moved piece alone (no piece of the attacker uncovered) then goes without its reach, it
    // being known to check from where it lands.
    template <bool Reach = true, class Visit>
    std::optional<Move> walk(Visit&& visit) const {
        const u128 zone = Board::promotion_zone[us].to_u128();
        const u128 open = ~own & kPlaying;
        // Board moves, by ascending source: a stepping piece near the king, a slider whose lines
        // reach a square it might check from, any piece that uncovers a slider. A king never
        // checks by itself.
        u128 sources = discoverers;
        if (!Listing && screened.drops_ruled_out()) {
            // The screen has named the squares a mating move might come to: only the pieces
            // that reach one of them.
            for (u128 rest = screened.landing; rest;) sources |= attackers_onto(m, us, own, pop_lowest(rest), occupied);
            sources &= ~our_kings;
        } else {
            const u128 knights = m.knights & own;
            sources |= (own & kNear.of[0][king] & ~our_kings & ~knights) | (knights & kNear.of[1][king]);
            // A slider is kept when its lines (with a dragon's or horse's steps) meet a square
            // it might check from, as it is or promoted: on the king's lines of its way of
            // sliding, or next to the king. (A lance is kept for the whole open part of the
            // king's lines: a few too many cost only their filtering below.)
            const u128 near = step_attacks(them, Kind::King, king);
            const auto keep = [&](u128 pieces, auto lines_from, u128 onto) {
                for (u128 rest = pieces & ~sources; rest;) {
                    const unsigned from = pop_lowest(rest);
                    const u128 steps = (m.kinglike & bit(from)) ? step_attacks(us, Kind::King, from) : u128{0};
                    if ((lines_from(from) | steps) & onto) sources |= bit(from);
                }
            };
            keep(rooks, [](unsigned s) { return kTables.lines[0][s]; }, straight | near);
            keep(bichops, [](unsigned s) { return kTables.lines[1][s]; }, diagonal | near);
            keep(lances, [&](unsigned s) { return kTables.rays[ray_of(forward(us))][s]; }, straight | near);
        }
        for (; sources;) {
            const unsigned from = pop_lowest(sources);
            const Kind kind = board.square_kinds[from];
            const u128 targets = attacks(us, kind, from, occupied) & open;
            u128 plain = targets;
            if (kind == Kind::Pawn || kind == Kind::Lance) plain &= ~Board::last_row[us].to_u128();
            if (kind == Kind::Knight) plain &= ~Board::last_two_rows[us].to_u128();
            u128 promoting = is_promotable(kind) ? (kTables.in_zone[us][from] ? targets : targets & zone) : 0;
            if (!(discoverers & bit(from))) {
                plain &= checking(kind);
                if (promoting) promoting &= checking(promoted(kind));
            }
            if constexpr (!Listing) plain &= screened.landing, promoting &= screened.landing;
            if (!(plain | promoting)) continue;  // most pieces give no check
            const bool direct = !(discoverers & bit(from));
            for (int promote = 0; promote < 2; ++promote) {
                const Kind arrives = promote ? promoted(kind) : kind;
                for (u128 rest = promote ? promoting : plain; rest;) {
                    const unsigned to = pop_lowest(rest);
                    const Move move = promote ? Move::promoting(from, to) : Move::normal(from, to);
                    if (Listing && !settled()) return std::nullopt;
                    if (!Reach && direct) {
                        if ((!Listing || legal(from, to)) && visit(Check{move, bit(from), to, arrives, 0, bit(to)}))
                            return move;
                        continue;
                    }
                    const Check c = check_of(move, bit(from), to, arrives);
                    if (c.checkers && (!Listing || legal(from, to)) && visit(c)) return move;
                }
            }
        }
        // Drops in legal_moves order. A pawn is dropped only in front of the king, in a column
        // without another of the attacker's unpromoted pawns, and never to mate.
        if (!Listing && screened.drops_ruled_out()) return std::nullopt;
        const std::uint8_t* hand = board.hand.counts.data() + 8 * us;
        // The kinds held, by ascending number: Gold, Rook, Bichop, Silver, Knight, Lance, Pawn.
        std::uint16_t held = held_kinds(hand) & static_cast<std::uint16_t>(kDropKinds | kinds_bit(Kind::Pawn));
        if (!Listing) held &= ~kinds_bit(Kind::Pawn);  // a pawn drop never mates
        if (!held) return std::nullopt;
        const u128 empty = ~occupied & kPlaying;
        for (; held; held &= held - 1) {
            const Kind kind = static_cast<Kind>(std::countr_zero(held));
            u128 squares = empty & checking(kind);
            if (kind == Kind::Lance || kind == Kind::Pawn) squares &= ~Board::last_row[us].to_u128();
            if (kind == Kind::Knight) squares &= ~Board::last_two_rows[us].to_u128();
            if (kind == Kind::Pawn && squares && (kTables.columns[lowest_index(squares) % 11] & m.pawns & own)) squares = 0;
            for (; squares;) {
                const unsigned to = pop_lowest(squares);
                const Move drop = Move::drop_of(Piece{side, kind}.code(), to);
                if (Listing && !settled()) return std::nullopt;
                // A drop checks from every square whence its kind reaches the king.
                if (!Reach && kind != Kind::Pawn) {
                    if (visit(Check{drop, 0, to, kind, 0, bit(to)})) return drop;
                    continue;
                }
                const Check c = check_of(drop, 0, to, kind);
                if (!c.checkers) continue;
                if (kind == Kind::Pawn && !answered(c) && mates(drop)) continue;
                if (visit(c)) return drop;
            }
        }
        return std::nullopt;
    }
};

// Runs `fast` with a Walk of the position when it is one the walk handles, else `slow`; a
// defender without a king is given no check at all (`none`).
template <bool Listing, class Fast, class Slow, class None>
auto dispatch(const Board& board, Color side, Fast fast, Slow slow, None none) {
    // Listing the checks reads most of the board: its every line asked for at once, as a
    // position not looked at lately is otherwise read a line at a time as the walk comes to its
    // kinds of squares and its hands. (Mate in one reads less, most often only the screen's.)
    if constexpr (Listing) {
        const char* const first = reinterpret_cast<const char*>(&board);
        for (std::size_t at = 0; at < sizeof board; at += 64) __builtin_prefetch(first + at);
        __builtin_prefetch(first + sizeof board - 1);
    }
    if (!is_side(side)) return slow();  // the side's ValueError
    const int us = byte_of(side);
    const u128 own = board.color_boards[us].to_u128(), theirs = board.color_boards[us ^ 1].to_u128();
    const u128 kings = board.piece_boards[number(Kind::King)].to_u128();
    const u128 their_kings = kings & theirs, our_kings = kings & own;
    if (!their_kings) return none();
    if ((their_kings & (their_kings - 1)) || (Listing && (our_kings & (our_kings - 1)))) return slow();
    const Movers movers = movers_of(board);
    const unsigned king = lowest_index(their_kings);
    if constexpr (Listing) {
        // The walk's slides from the king tell whether it is in check.
        Walk<Listing> walk(board, side, us, king, movers);
        if (walk.king_attacked()) return slow();
        if constexpr (std::is_void_v<decltype(fast(walk))>) {
            fast(walk);
            if (walk.unsafe) slow();
            return;
        } else {
            const auto found = fast(walk);
            return walk.unsafe ? slow() : found;
        }
    } else {
        // The screen finds the king in check on the way, from the same attacks.
        Screened screened;
        const Screen found = us ? surely_no_mate<1>(board, king, movers, own, theirs, screened)
                                : surely_no_mate<0>(board, king, movers, own, theirs, screened);
        if (found == Screen::in_check) return slow();
        if (found == Screen::no_mate) return none();
        Walk<Listing> walk(board, side, us, king, movers);
        walk.screened = screened;
        return fast(walk);
    }
}


}  // namespace

VELKORANT_CLONED  // the walk inlined, with a copy for newer processors
std::optional<Move> mate_in_one(const Board& board, Color side) {
    return dispatch<false>(
        board, side,
        [](const Walk<false>& w) { return w.walk([&](const Check& c) { return w.mates(c); }); },
        [&] { return mate_in_one_played(board, side); }, [] { return std::optional<Move>(); });
}

VELKORANT_CLONED  // the walk inlined, with a copy for newer processors
void check_moves(const Board& board, Color side, MoveList& out) {
    const auto listed = [&] { check_moves_listed(board, side, out); };
    dispatch<true>(
        board, side,
        [&](const Walk<true>& w) {
            out.clear();
            w.template walk<false>([&](const Check& c) {
                out.push_back(c.move);
                return false;
            });
        },
        listed, [&] { out.clear(); });
}

VELKORANT_CLONED  // the walk inlined, with a copy for newer processors
std::optional<Move> mate_or_checks(const Board& board, Color side, MoveList& out) {
    return dispatch<true>(
        board, side,
        [&](const Walk<true>& w) {
            out.clear();
            return w.walk([&](const Check& c) {
                out.push_back(c.move);
                return w.mates(c);
            });
        },
        [&] {
            check_moves_listed(board, side, out);
            return mate_in_one_played(board, side);
        },
        [&] {
            out.clear();
            return std::optional<Move>();
        });
}

}  // namespace velkorant

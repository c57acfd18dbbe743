// The full rules over the pseudo-legal moves: the mover's king may not be left attacked, no
// piece may be stranded without a move, and a pawn drop may not mate.
//
// Once per position the checkers and the pinned pieces of the side to move are found from its
// king; each piece's targets are then cut to what keeps the king safe (the pin line, the squares
// that answer a check, the squares the king may step to), so the moves come out in the pseudo-
// legal generator's order with the illegal ones left out. Only a pawn drop that gives check is
// played out, to see whether the defender has a reply.
#include "velkorant/legal.hpp"

#include <bit>
#include <cstring>
#include <string>
#include <vector>

#include "velkorant/attacks.hpp"
#include "velkorant/cloned.hpp"
#include "velkorant/errors.hpp"

namespace velkorant {

namespace {

constexpr u128 kAll = ~static_cast<u128>(0);

// The plain (non-promoting) destinations of each kind: none that leaves a pawn or lance on its
// last row or a knight on its last two rows.
struct PlainTargets {
    u128 of[2][kKinds];
};

constexpr PlainTargets make_plain_targets() {
    PlainTargets p{};
    for (int side = 0; side < 2; ++side) {
        for (int kind = 0; kind < kKinds; ++kind) p.of[side][kind] = kAll;
        p.of[side][number(Kind::Pawn)] = p.of[side][number(Kind::Lance)] = ~Board::last_row[side].to_u128();
        p.of[side][number(Kind::Knight)] = ~Board::last_two_rows[side].to_u128();
    }
    return p;
}

constexpr PlainTargets kPlainTargets = make_plain_targets();

// Where each kind may be dropped (the empty squares aside), by side: knights not on the last two
// rows, lances and pawns not on the last row.
constexpr u128 drop_rows(int side, Kind kind) { return kPlainTargets.of[side][number(kind)] & kPlaying; }

// kReach[s]: the squares within two rows and one column of s, from where a step or a jump can
// reach s.
struct Reach {
    u128 of[kSquares];
};

constexpr Reach make_reach() {
    Reach r{};
    for (int s = 0; s < static_cast<int>(kSquares); ++s)
        for (int row = -2; row <= 2; ++row)
            for (int column = -1; column <= 1; ++column) {
                const int p = s + 11 * row + column;
                if (p >= 0 && p < static_cast<int>(kSquares)) r.of[s] |= bit(static_cast<unsigned>(p));
            }
    return r;
}

constexpr Reach kReach = make_reach();

// One side's pieces as attackers: its sliders by line, its stepping pieces by the way they
// step, and whether any stepping piece is near.
struct Attackers {
    int side;
    u128 own;
    u128 rooks;     // rook and dragon
    u128 bichops;   // bishop and horse
    u128 lances;
    u128 steppers;  // every piece that steps or jumps: all kinds but rook, bishop and lance
    u128 pawns, knights, silvers;
    u128 golds;     // gold and the promoted kinds that move as one
    u128 kinglike;  // king, dragon and horse: what a king steps onto, they step onto

    // Takes the pieces of `gone` (a capture) out of every set.
    void remove(u128 gone) {
        for (u128* set : {&own, &rooks, &bichops, &lances, &steppers, &pawns, &knights, &silvers, &golds, &kinglike})
            *set &= ~gone;
    }
};

Attackers attackers_of(const Board& board, int side) {
    const auto& kinds = board.piece_boards;
    const auto of = [&](Kind k) { return kinds[number(k)].to_u128(); };
    const u128 own = board.color_boards[side].to_u128();
    return Attackers{side,
                     own,
                     (of(Kind::Rook) | of(Kind::Dragon)) & own,
                     (of(Kind::Bichop) | of(Kind::Horse)) & own,
                     of(Kind::Lance) & own,
                     own & ~(of(Kind::Rook) | of(Kind::Bichop) | of(Kind::Lance)),
                     of(Kind::Pawn) & own,
                     of(Kind::Knight) & own,
                     of(Kind::Silver) & own,
                     (of(Kind::Gold) | of(Kind::ProSilver) | of(Kind::ProKnight) | of(Kind::ProLance) | of(Kind::ProPawn)) & own,
                     (of(Kind::King) | of(Kind::Dragon) | of(Kind::Horse)) & own};
}

// The pieces of `a` that step or jump onto s. A piece on p reaches s exactly when the other
// side's piece of the same kind on s reaches p.
u128 step_attackers(const Attackers& a, unsigned s) {
    if (!(a.steppers & kReach.of[s])) return 0;
    const int other = a.side ^ 1;
    return (step_attacks(other, Kind::Pawn, s) & a.pawns) | (step_attacks(other, Kind::Knight, s) & a.knights) |
           (step_attacks(other, Kind::Silver, s) & a.silvers) | (step_attacks(other, Kind::Gold, s) & a.golds) |
           (step_attacks(other, Kind::King, s) & a.kinglike);
}

// Some piece of `a` attacks s with `occupied` in the way.
bool attacked(const Attackers& a, unsigned s, u128 occupied) {
    return step_attackers(a, s) || slider_reaches(a.side, s, occupied, a.rooks, a.lances, a.bichops);
}

// The squares the stepping pieces of `a` (side Them) attack, all of them at once, a direction at
// a time for every kind that steps that way.
template <int Them>
u128 stepped_onto(const Attackers& a) {
    constexpr int f = Them ? -1 : 1;  // White's steps are Black's turned around
    const u128 forward = a.silvers | a.golds | a.kinglike, sideways = a.golds | a.kinglike;
    const u128 back_diagonal = a.silvers | a.kinglike;
    return shifted<f * North>(forward | a.pawns) | shifted<f * NorthWest>(forward) | shifted<f * NorthEast>(forward) |
           shifted<f * West>(sideways) | shifted<f * East>(sideways) | shifted<f * South>(sideways) |
           shifted<f * SouthWest>(back_diagonal) | shifted<f * SouthEast>(back_diagonal) |
           shifted<f * (North + NorthWest)>(a.knights) | shifted<f * (North + NorthEast)>(a.knights);
}

bool in_check(const Board& board, int side) {
    u128 kings = (board.piece_boards[number(Kind::King)] & board.color_boards[side]).to_u128();
    if (!kings) return false;
    if (!(kings & (kings - 1))) {
        // One king, the usual case: a stepping piece must stand near it and a slider on one of
        // its lines, which most positions settle without looking further.
        const unsigned king = lowest_index(kings);
        const auto of = [&](Kind k) { return board.piece_boards[number(k)].to_u128(); };
        const u128 enemy = board.color_boards[side ^ 1].to_u128();
        const u128 sliders = ((of(Kind::Rook) | of(Kind::Dragon) | of(Kind::Lance)) & kTables.lines[0][king]) |
                             ((of(Kind::Bichop) | of(Kind::Horse)) & kTables.lines[1][king]);
        if (!(enemy & (kReach.of[king] | sliders))) return false;
    }
    const Attackers a = attackers_of(board, side ^ 1);
    const u128 occupied = (board.color_boards[0] | board.color_boards[1]).to_u128();
    while (kings)
        if (attacked(a, pop_lowest(kings), occupied)) return true;
    return false;
}

// What keeps the king of the side to move safe, found once per position.
struct Guard {
    enum Mode { kFree, kOneKing, kTried } mode = kFree;  // no king; one king; several, tried move by move
    unsigned king = 0;
    u128 checkers = 0;
    u128 evasions = kAll;  // destinations that answer the check: all when not in check
    u128 pinned = 0;
    Attackers them{};

    // The line from the king through a pinned piece, which the piece must stay on.
    u128 line_of(u128 piece) const {
        for (unsigned d = 0; d < 7; ++d)
            if (kTables.rays[d][king] & piece) return kTables.rays[d][king];
        return kTables.rays[7][king];
    }
};

Guard guard_of(const Board& board, int us) {
    Guard g;
    const u128 own = board.color_boards[us].to_u128();
    const u128 kings = board.piece_boards[number(Kind::King)].to_u128() & own;
    if (!kings) return g;
    if (kings & (kings - 1)) {
        g.mode = Guard::kTried;
        return g;
    }
    g.mode = Guard::kOneKing;
    const int them = us ^ 1;
    const unsigned k = g.king = lowest_index(kings);
    const u128 occupied = own | board.color_boards[them].to_u128();
    g.them = attackers_of(board, them);
    g.checkers = step_attackers(g.them, k);
    u128 line = 0;
    // Along each ray from the king, the nearest slider that would reach it on an open board:
    // nothing between gives check, one own piece between is pinned.
    const bool lined_up = (kTables.lines[0][k] & (g.them.rooks | g.them.lances)) | (kTables.lines[1][k] & g.them.bichops);
    for (unsigned d = 0; lined_up && d < 8; ++d) {
        const u128 ray = kTables.rays[d][k];
        const u128 sliders = (d & 1 ? g.them.bichops : g.them.rooks) | (kDirections[d] == forward(us) ? g.them.lances : 0);
        const u128 seen = ray & sliders;
        if (!seen) continue;
        const unsigned nearest = kDirections[d] > 0 ? lowest_index(seen) : highest_index(seen);
        const u128 between = ray & ~kTables.rays[d][nearest] & ~bit(nearest);
        const u128 blockers = between & occupied;
        if (!blockers) {
            g.checkers |= bit(nearest);
            line = between;
        } else if (!(blockers & (blockers - 1)) && (blockers & own)) {
            g.pinned |= blockers;
        }
    }
    if (g.checkers) g.evasions = g.checkers & (g.checkers - 1) ? 0 : g.checkers | line;
    return g;
}

// The squares among `targets`, next to the king of the side in `g`, that its king may step to:
// none of the other side's pieces attacks them once the king has left its square.
template <int Them>
u128 safe_steps(const Guard& g, u128 targets, u128 occupied) {
    targets &= ~stepped_onto<Them>(g.them);
    const u128 without_king = occupied ^ bit(g.king);
    for (u128 rest = targets; rest;) {
        const unsigned t = pop_lowest(rest);
        if (slider_reaches(Them, t, without_king, g.them.rooks, g.them.lances, g.them.bichops)) targets ^= bit(t);
    }
    return targets;
}

// The members of `targets` whose move, played on a copy, leaves no king of `us` attacked.
// Rare (a side with several kings): kept out of the generators' load-time copies.
template <class Make>
[[gnu::noinline]] u128 tried(const Board& board, int us, u128 targets, Make make) {
    u128 safe = 0;
    for (u128 rest = targets; rest;) {
        const unsigned t = pop_lowest(rest);
        Board child = board;
        execute_move(child, make(t));
        if (!in_check(child, us)) safe |= bit(t);
    }
    return safe;
}

// Members of a set. Without the population count instruction (a portable x86-64 build) the bits
// are added in parallel over both words, since the library's fallback is a call.
inline unsigned count(u128 set) {
#if defined(__POPCNT__) || !defined(__x86_64__)
    return static_cast<unsigned>(std::popcount(static_cast<std::uint64_t>(set >> 64)) +
                                 std::popcount(static_cast<std::uint64_t>(set)));
#else
    auto high = static_cast<std::uint64_t>(set >> 64), low = static_cast<std::uint64_t>(set);
    constexpr std::uint64_t k1 = 0x5555555555555555, k2 = 0x3333333333333333, k4 = 0x0f0f0f0f0f0f0f0f;
    high -= (high >> 1) & k1;
    low -= (low >> 1) & k1;
    high = (high & k2) + ((high >> 2) & k2);
    low = (low & k2) + ((low >> 2) & k2);
    const std::uint64_t bytes = ((high + (high >> 4)) & k4) + ((low + (low >> 4)) & k4);
    return static_cast<unsigned>((bytes * 0x0101010101010101) >> 56);
#endif
}

// Counts the moves without listing them.
struct Counter {
    std::uint64_t n = 0;
    void board(unsigned, u128 plain, u128 promoting) { n += count(plain) + count(promoting); }
    void drops(unsigned, u128 targets) { n += count(targets); }
};

std::uint64_t count_moves(const Board& board, int us);

// A pawn dropped by `us` on t, which checks a king of the other side, leaves it no legal reply.
// Rare enough to be kept out of the generators' load-time copies.
[[gnu::noinline]] bool pawn_drop_mates(const Board& board, int us, unsigned t) {
    Board child = board;
    --child.hand.counts[8 * us + number(Kind::Pawn) - 1];
    child.deploy_unchecked(t, Kind::Pawn, static_cast<Color>(us));
    return count_moves(child, us ^ 1) == 0;
}

// Every member's column, rows 1..9.
inline u128 columns_of(u128 set) {
    set |= set >> 11 | set << 11;
    set |= set >> 22 | set << 22;
    set |= set >> 44 | set << 44;
    set |= set >> 88 | set << 88;  // rows up to eight apart
    return set & kPlaying;
}

// The drops of `us`, kind by kind (Gold..Pawn), each kind's squares in one set; only the kinds
// whose bit is set in `kinds`.
template <class Sink>
void drops(const Board& board, int us, const Guard& g, Sink& sink, unsigned kinds = ~0u) {
    const std::uint8_t* counts = board.hand.counts.data() + 8 * us;
    std::uint64_t held;
    std::memcpy(&held, counts, sizeof held);
    if (!held) return;
    const int them = us ^ 1;
    const u128 empty = board.piece_boards[0].to_u128() & kPlaying & g.evasions;
    for (Kind kind : {Kind::Gold, Kind::Rook, Kind::Bichop, Kind::Silver, Kind::Knight, Kind::Lance, Kind::Pawn}) {
        if (!counts[number(kind) - 1] || !(kinds >> number(kind) & 1)) continue;
        const unsigned code = Piece{static_cast<Color>(us), kind}.code();
        const auto drop = [code](unsigned t) { return Move::drop_of(code, t); };
        u128 allowed = empty & drop_rows(us, kind);
        if (kind == Kind::Pawn) {
            // No second unpromoted pawn in a column.
            allowed &= ~columns_of((board.piece_boards[number(Kind::Pawn)] & board.color_boards[us]).to_u128());
            if (g.mode == Guard::kTried) allowed = tried(board, us, allowed, drop);
            // No pawn drop that mates: only a drop in front of a king gives check.
            u128 checks = 0;
            for (u128 kings = (board.piece_boards[number(Kind::King)] & board.color_boards[them]).to_u128(); kings;)
                checks |= step_attacks(them, Kind::Pawn, pop_lowest(kings));
            for (u128 rest = allowed & checks; rest;) {
                const unsigned t = pop_lowest(rest);
                if (pawn_drop_mates(board, us, t)) allowed ^= bit(t);
            }
        } else if (g.mode == Guard::kTried) {
            allowed = tried(board, us, allowed, drop);
        }
        if (allowed) sink.drops(code, allowed);
    }
}

// The legal moves of `us` in the pseudo-legal order: the board moves of `pieces`, then the drops
// of `drop_kinds` (a bit per kind). Returns whether `us` is in check, found on the way: 1 or 0,
// or -1 for a side with several kings, whose moves are tried one by one instead.
template <class Sink>
int generate(const Board& board, int us, Sink& sink, u128 pieces = kAll, unsigned drop_kinds = ~0u) {
    const int them = us ^ 1;
    const u128 own = board.color_boards[us].to_u128();
    const u128 occupied = own | board.color_boards[them].to_u128();
    const u128 zone = Board::promotion_zone[us].to_u128();
    const Guard g = guard_of(board, us);
    const bool double_check = g.evasions == 0;
    const int checked = g.mode == Guard::kTried ? -1 : g.checkers != 0;

    // In double check only the king moves.
    for (u128 movers = (double_check ? bit(g.king) : own) & pieces; movers;) {
        const unsigned s = pop_lowest(movers);
        const Kind kind = board.square_kinds[s];
        u128 targets = attacks(us, kind, s, occupied) & ~own;
        if (g.mode == Guard::kOneKing) {
            if (s == g.king) {
                targets = them ? safe_steps<1>(g, targets, occupied) : safe_steps<0>(g, targets, occupied);
            } else {
                targets &= g.evasions;
                if (g.pinned & bit(s)) targets &= g.line_of(bit(s));
            }
        }
        u128 plain = targets & kPlainTargets.of[us][number(kind)];
        u128 promoting = is_promotable(kind) ? (kTables.in_zone[us][s] ? targets : targets & zone) : 0;
        if (g.mode == Guard::kTried) {
            plain = tried(board, us, plain, [s](unsigned t) { return Move::normal(s, t); });
            promoting = tried(board, us, promoting, [s](unsigned t) { return Move::promoting(s, t); });
        }
        if (plain | promoting) {
            sink.board(s, plain, promoting);
            if constexpr (requires { sink.done(); })
                if (sink.done()) return checked;
        }
    }

    if (!double_check && drop_kinds) drops(board, us, g, sink, drop_kinds);
    return checked;
}

// The number of legal moves of side Us, counted where the order of the list does not matter:
// every free pawn's step at once, then the other free pieces kind by kind, then the pinned ones.
template <int Us>
[[gnu::always_inline]] inline std::uint64_t count_moves_of(const Board& board) {
    constexpr int s = Us ? -1 : 1;  // White's directions are Black's turned around
    const Guard g = guard_of(board, Us);
    if (g.mode == Guard::kTried) {
        Counter c;
        generate(board, Us, c);
        return c.n;
    }
    const u128 own = board.color_boards[Us].to_u128();
    const u128 occupied = own | board.color_boards[Us ^ 1].to_u128();
    const u128 zone = Board::promotion_zone[Us].to_u128();
    const auto& kinds = board.piece_boards;
    const auto of = [&](Kind k) { return kinds[number(k)].to_u128(); };
    std::uint64_t n = 0;

    if (g.mode == Guard::kOneKing) {
        n += count(safe_steps<Us ^ 1>(g, step_attacks(Us, Kind::King, g.king) & ~own, occupied));
        if (!g.evasions) return n;  // double check: only the king moves
    }

    const u128 open = ~own & g.evasions & kPlaying;  // where a piece other than the king may go
    const u128 free = own & ~g.pinned;
    // Pawns promote exactly when they arrive in the zone: all of them at once.
    const u128 last_row = ~Board::last_row[Us].to_u128();
    const u128 pawns = shifted<s * North>(of(Kind::Pawn) & free) & open;
    n += count(pawns & last_row) + count(pawns & zone);
    // Then piece by piece, kind by kind; most have no promoting move, many have no move at all.
    const auto each = [&](u128 pieces, auto targets_of, u128 plain, bool promotes) {
        while (pieces) {
            const unsigned from = pop_lowest(pieces);
            const u128 targets = targets_of(from) & open;
            if (!targets) continue;
            n += count(targets & plain);
            if (promotes) {
                const u128 promoting = kTables.in_zone[Us][from] ? targets : targets & zone;
                if (promoting) n += count(promoting);
            }
        }
    };
    const auto steps_of = [](Kind kind) { return [kind](unsigned from) { return step_attacks(Us, kind, from); }; };
    // Knights too jump into the zone to promote, each jump of every knight at once.
    const u128 knights = of(Kind::Knight) & free;
    const u128 last_two_rows = ~Board::last_two_rows[Us].to_u128();
    if (knights) {
        for (const u128 t : {shifted<s * (North + NorthWest)>(knights) & open, shifted<s * (North + NorthEast)>(knights) & open})
            if (t) n += count(t & last_two_rows) + count(t & zone);
    }
    // The lances' slides, all at once: a lance ahead of another in its column stops it, so no
    // square is reached by two of them. Empty squares pass the slide on, 1 + 2 + 4 rows at a time.
    if (u128 reach = of(Kind::Lance) & free) {
        u128 pass = ~occupied & kPlaying;
        reach |= pass & shifted<s * North>(reach);
        pass &= shifted<s * North>(pass);
        reach |= pass & shifted<s * 2 * North>(reach);
        pass &= shifted<s * 2 * North>(pass);
        reach |= pass & shifted<s * 4 * North>(reach);
        const u128 t = shifted<s * North>(reach) & open;
        n += count(t & last_row) + count(t & zone);
    }
    each(of(Kind::Silver) & free, steps_of(Kind::Silver), kAll, true);
    each((of(Kind::Gold) | of(Kind::ProSilver) | of(Kind::ProKnight) | of(Kind::ProLance) | of(Kind::ProPawn)) & free,
         steps_of(Kind::Gold), kAll, false);
    each(of(Kind::Rook) & free, [&](unsigned from) { return rook_attacks(from, occupied); }, kAll, true);
    each(of(Kind::Bichop) & free, [&](unsigned from) { return bichop_attacks(from, occupied); }, kAll, true);
    each(of(Kind::Dragon) & free, [&](unsigned from) { return rook_attacks(from, occupied) | step_attacks(Us, Kind::Dragon, from); },
         kAll, false);
    each(of(Kind::Horse) & free, [&](unsigned from) { return bichop_attacks(from, occupied) | step_attacks(Us, Kind::Horse, from); },
         kAll, false);
    // Pinned pieces stay on the line through their king.
    for (u128 rest = g.pinned; rest;) {
        const unsigned from = pop_lowest(rest);
        const Kind kind = board.square_kinds[from];
        const u128 targets = attacks(Us, kind, from, occupied) & open & g.line_of(bit(from));
        n += count(targets & kPlainTargets.of[Us][number(kind)]);
        if (is_promotable(kind)) n += count(kTables.in_zone[Us][from] ? targets : targets & zone);
    }

    Counter dropped;
    drops(board, Us, g, dropped);
    return n + dropped.n;
}

VELKORANT_CLONED
std::uint64_t count_moves(const Board& board, int us) { return us ? count_moves_of<1>(board) : count_moves_of<0>(board); }

// Lists the moves into a MoveList.
struct Writer {
    MoveList& out;
    void board(unsigned s, u128 plain, u128 promoting) {
        std::uint16_t* cursor = out.append_space(2 * 81);
        for_each_index(plain, [&](unsigned t) { *cursor++ = Move::normal(s, t).word; });
        for_each_index(promoting, [&](unsigned t) { *cursor++ = Move::promoting(s, t).word; });
        out.commit(cursor);
    }
    void drops(unsigned code, u128 targets) {
        std::uint16_t* cursor = out.append_space(81);
        for_each_index(targets, [&](unsigned t) { *cursor++ = Move::drop_of(code, t).word; });
        out.commit(cursor);
    }
};

// Writes the moves cut to the squares of the kind each piece has on arrival.
struct Masked {
    Writer writer;
    const Board& position;
    const u128 (&squares)[kKinds];
    u128 free;
    void board(unsigned s, u128 plain, u128 promoting) {
        if (!(free & bit(s))) {
            const Kind kind = position.square_kinds[s];
            plain &= squares[number(kind)];
            if (promoting) promoting &= squares[number(promoted(kind))];
        }
        if (plain | promoting) writer.board(s, plain, promoting);
    }
    void drops(unsigned code, u128 targets) {
        const Kind kind = Move::drop_of(code, lowest_index(targets)).get_piece().piece_type;
        if ((targets &= squares[number(kind)])) writer.drops(code, targets);
    }
};

// Tells whether any move comes out, and stops the generator at the first piece that has one.
struct Any {
    bool found = false;
    void board(unsigned, u128, u128) { found = true; }
    void drops(unsigned, u128) { found = true; }
    bool done() const { return found; }
};

// Tells whether one move word comes out.
struct Finder {
    Move move;
    bool found = false;
    void board(unsigned s, u128 plain, u128 promoting) {
        if (!move.is_drop() && move.from() == s) found |= ((move.is_promote() ? promoting : plain) & bit(move.to())) != 0;
    }
    void drops(unsigned code, u128 targets) {
        if (move.is_drop() && !move.is_promote() && move.from() == code) found |= (targets & bit(move.to())) != 0;
    }
};

int side_of(Color side) {
    if (!is_side(side))
        throw ValueError("the side to move must be Black or White, not " + std::string(debug_name(side)));
    return byte_of(side);
}

}  // namespace

// Plays a move of legal play on `board`: what execute_move does, without its checks of the hand
// slots, which such a move cannot miss (a count at 255 is left to execute_move to refuse).
VELKORANT_CLONED
void play_legal(Board& board, Move move) {
    const unsigned to = move.to();
    if (move.is_drop()) {
        const Piece piece = move.get_piece();
        --board.hand.counts[8 * byte_of(piece.owner) + number(piece.piece_type) - 1];
        board.deploy_unchecked(to, piece.piece_type, piece.owner);
        return;
    }
    const unsigned from = move.from();
    const Kind kind = board.square_kinds[from];
    const Color owner = board.color_boards[0].test(from) ? Color::Black : Color::White;
    if (board.occupied.test(to)) {
        // The captured piece goes to the mover's hand; placing the mover overwrites it.
        std::uint8_t& held = board.hand.counts[8 * byte_of(owner) + number(unpromoted(board.square_kinds[to])) - 1];
        if (held == 255) return execute_move(board, move);
        ++held;
    }
    board.drop_unchecked(from);
    board.deploy_unchecked(to, move.is_promote() ? promoted(kind) : kind, owner);
}

bool has_king(const Board& board, Color side) {
    return (board.piece_boards[number(Kind::King)] & board.color_boards[side_of(side)]).any();
}

bool in_check(const Board& board, Color side) { return in_check(board, side_of(side)); }

void legal_moves(const Board& board, Color side, MoveList& out) { legal_moves_in_check(board, side, out); }

VELKORANT_CLONED
bool legal_moves_in_check(const Board& board, Color side, MoveList& out) {
    const int us = side_of(side);
    out.clear();
    Writer writer{out};
    const int checked = generate(board, us, writer);
    return checked < 0 ? in_check(board, us) : checked;
}

void legal_moves_onto(const Board& board, Color side, MoveList& out, const u128 (&squares)[kKinds], u128 free) {
    const int us = side_of(side);
    out.clear();
    Masked sink{Writer{out}, board, squares, free};
    generate(board, us, sink);
}

std::uint64_t count_legal_moves(const Board& board, Color side) { return count_moves(board, side_of(side)); }

VELKORANT_CLONED
bool has_legal_move(const Board& board, Color side) {
    const int us = side_of(side);
    const u128 own = board.color_boards[us].to_u128();
    const u128 kings = board.piece_boards[number(Kind::King)].to_u128() & own;
    if (kings && !(kings & (kings - 1))) {
        // Out of check, a piece that shares no line with its king cannot uncover it: its first
        // move that strands nothing is legal. Most positions are answered by their first piece.
        const unsigned king = lowest_index(kings);
        const u128 occupied = own | board.color_boards[us ^ 1].to_u128();
        const u128 zone = Board::promotion_zone[us].to_u128();
        if (!attacked(attackers_of(board, us ^ 1), king, occupied)) {
            for (u128 movers = own & ~(kTables.lines[0][king] | kTables.lines[1][king] | kings); movers;) {
                const unsigned s = pop_lowest(movers);
                const Kind kind = board.square_kinds[s];
                const u128 targets = attacks(us, kind, s, occupied) & ~own;
                if (targets & kPlainTargets.of[us][number(kind)]) return true;
                if (is_promotable(kind) && (kTables.in_zone[us][s] ? targets : targets & zone)) return true;
            }
        }
    }
    Any any;
    generate(board, us, any);
    return any.found;
}

VELKORANT_CLONED
bool is_legal(const Board& board, Color side, Move move) {
    const int us = side_of(side);
    const int them = us ^ 1;
    const u128 own = board.color_boards[us].to_u128();
    const u128 kings = board.piece_boards[number(Kind::King)].to_u128() & own;
    if (kings & (kings - 1)) {
        // Several kings: only the moving piece, or the dropped kind, is generated and tried.
        Finder finder{move};
        if (move.is_drop()) {
            const unsigned kind = move.from() & 63;
            if ((move.from() >> 6) != static_cast<unsigned>(us) || kind < number(Kind::Gold) || kind > number(Kind::Pawn))
                return false;
            generate(board, us, finder, 0, 1u << kind);
        } else {
            if (move.from() >= kSquares || !(own & bit(move.from()))) return false;
            generate(board, us, finder, bit(move.from()), 0);
        }
        return finder.found;
    }

    // One king or none: is the word one of the side's pseudo-legal moves that strands nothing?
    const unsigned to = move.to();
    if (!(kPlaying & bit(to))) return false;
    const u128 occupied = own | board.color_boards[them].to_u128();
    unsigned king = kings ? lowest_index(kings) : 0;
    u128 after = occupied | bit(to);  // the occupied squares once the move is played
    if (move.is_drop()) {
        const Kind kind = kind_from_number(move.from() & 63);
        if ((move.from() >> 6) != static_cast<unsigned>(us) || move.is_promote() || number(kind) < number(Kind::Gold) ||
            number(kind) > number(Kind::Pawn) || !board.hand.counts[8 * us + number(kind) - 1])
            return false;
        if (!(board.piece_boards[0].to_u128() & drop_rows(us, kind) & bit(to))) return false;
        if (kind == Kind::Pawn) {
            const u128 pawns = (board.piece_boards[number(Kind::Pawn)] & board.color_boards[us]).to_u128();
            if (columns_of(pawns) & bit(to)) return false;
            // A pawn drop that checks must leave the defender a reply.
            u128 checks = 0;
            for (u128 rest = (board.piece_boards[number(Kind::King)] & board.color_boards[them]).to_u128(); rest;)
                checks |= step_attacks(them, Kind::Pawn, pop_lowest(rest));
            if ((checks & bit(to)) && pawn_drop_mates(board, us, to)) return false;
        }
    } else {
        const unsigned from = move.from();
        if (from >= kSquares || !(own & bit(from))) return false;
        const Kind kind = board.square_kinds[from];
        if (!(attacks(us, kind, from, occupied) & ~own & bit(to))) return false;
        if (move.is_promote() ? !is_promotable(kind) || !(kTables.in_zone[us][from] || kTables.in_zone[us][to])
                              : !(kPlainTargets.of[us][number(kind)] & bit(to)))
            return false;
        after ^= bit(from);
        if (from == king) king = to;
    }
    if (!kings) return true;
    // The king must not be attacked once the move is played: the other side's pieces less the
    // one captured on the destination, with the mover's squares changed.
    Attackers a = attackers_of(board, them);
    a.remove(bit(to));
    return !attacked(a, king, after);
}

std::uint64_t legal_perft(const Board& board, Color side, int depth, Checkpoint& checkpoint) {
    const int us = side_of(side);
    if (depth < 0) throw ValueError("the depth must be 0 or more, not " + std::to_string(depth));
    if (depth == 0) return 1;
    if (depth == 1) return count_moves(board, us);
    // A walk of the tree without recursion: one frame per ply of the line being walked, made when
    // the line first gets that deep, and every frame's moves on one stack of move words.
    struct Frame {
        Board board;
        std::size_t begin, next, end;  // its moves are stack[begin..end), those from next on still to play
    };
    std::vector<Frame> line;
    MoveList stack;
    Writer writer{stack};
    const auto enter = [&](std::size_t ply, const Board& position) {
        if (line.size() == ply) line.push_back(Frame{position, 0, 0, 0});
        else line[ply].board = position;
        Frame& frame = line[ply];
        frame.begin = frame.next = stack.size();
        generate(frame.board, us ^ static_cast<int>(ply & 1), writer);
        frame.end = stack.size();
        checkpoint.tick();
    };
    std::uint64_t nodes = 0;
    enter(0, board);
    for (std::size_t ply = 0;;) {
        Frame& frame = line[ply];
        if (frame.next == frame.end) {
            stack.commit(stack.data() + frame.begin);
            if (ply == 0) return nodes;
            --ply;
            continue;
        }
        Board child = frame.board;
        play_legal(child, Move{stack.data()[frame.next++]});
        if (static_cast<int>(ply) + 2 == depth) {
            nodes += count_moves(child, us ^ static_cast<int>((ply + 1) & 1));
            continue;
        }
        enter(++ply, child);
    }
}

std::uint64_t legal_perft(const Board& board, Color side, int depth) {
    Checkpoint never;
    return legal_perft(board, side, depth, never);
}

}  // namespace velkorant

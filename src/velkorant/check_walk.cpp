// The attacker's checks and mate in one, without listing the legal moves. The moves that might
// check are walked in legal_moves order: the pieces near the defending king or sliding onto it,
// the pieces that stand between it and one of the attacker's sliders, then the drops. Each is
// kept when it checks (the moved piece reaches the king, or a slider it uncovers does) and is
// legal (a pinned piece stays on its line, the king steps where nothing attacks it, a pawn drop
// does not mate).
//
// For mate in one each check is first looked at for the defender's quick answers: a king step to
// a square nothing attacks, a capture of a lone checker, an interposition. Only a check none of
// these answers is played out on a copy and tried in full, so the answer is the first checkmate
// of legal_moves. (A pawn drop never mates: one that would is illegal.)
//
// Odd positions are left to the listed moves (checks.cpp): the defender with two kings or in check
// already, the attacker with two kings or in check.
#include <cstdint>
#include <cstring>
#include <optional>

#include "velkorant/attacks.hpp"
#include "velkorant/checks.hpp"
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
    u128 discoverers;             // the attacker's pieces alone between the king and a slider
    u128 pinned = 0;              // the attacker's pieces alone between its own king and a slider

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
        discoverers = alone_between(king, occupied, own, rooks, bichops, lances, forward(them));
        if constexpr (Listing) if (our_kings)
            pinned = alone_between(lowest_index(our_kings), occupied, own, m.rooks & theirs, m.bichops & theirs,
                                   m.lances & theirs, forward(us));
    }

    // The squares whence a piece of `kind` of the attacker reaches the king.
    u128 checking(Kind kind) const {
        switch (kind) {
            case Kind::Rook: return straight;
            case Kind::Bichop: return diagonal;
            case Kind::Lance: return lance_attacks(them, king, occupied);
            case Kind::Dragon: return straight | step_attacks(them, Kind::King, king);
            case Kind::Horse: return diagonal | step_attacks(them, Kind::King, king);
            default: return step_attacks(them, kind, king);
        }
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
    // returns that check's move.
    template <class Visit>
    std::optional<Move> walk(Visit&& visit) const {
        const u128 zone = Board::promotion_zone[us].to_u128();
        const u128 open = ~own & kPlaying;
        // Board moves, by ascending source: a stepping piece near the king, a slider whose lines
        // reach a square it might check from, any piece that uncovers a slider. A king never
        // checks by itself.
        const u128 knights = m.knights & own;
        u128 sources = (own & kNear.of[0][king] & ~our_kings & ~knights) | (knights & kNear.of[1][king]) | discoverers;
        const u128 near = step_attacks(them, Kind::King, king);
        for (u128 rest = (rooks | bichops | lances) & ~sources; rest;) {
            const unsigned from = pop_lowest(rest);
            const Kind kind = board.square_kinds[from];
            u128 lines = kind == Kind::Lance ? kTables.rays[ray_of(forward(us))][from]
                                             : kTables.lines[slides_diagonal(kind) ? 1 : 0][from];
            if (kind == Kind::Dragon || kind == Kind::Horse) lines |= step_attacks(us, Kind::King, from);
            if (lines & (checking(kind) | near)) sources |= bit(from);
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
            for (int promote = 0; promote < 2; ++promote) {
                const Kind arrives = promote ? promoted(kind) : kind;
                for (u128 rest = promote ? promoting : plain; rest;) {
                    const unsigned to = pop_lowest(rest);
                    const Move move = promote ? Move::promoting(from, to) : Move::normal(from, to);
                    const Check c = check_of(move, bit(from), to, arrives);
                    if (c.checkers && (!Listing || legal(from, to)) && visit(c)) return move;
                }
            }
        }
        // Drops in legal_moves order. A pawn is dropped only in front of the king, in a column
        // without another of the attacker's unpromoted pawns, and never to mate.
        const std::uint8_t* hand = board.hand.counts.data() + 8 * us;
        std::uint8_t counts[8];  // King (never held), Gold, ..., Pawn
        std::memcpy(counts, hand, sizeof counts);
        if (!Listing) counts[number(Kind::Pawn) - 1] = 0;  // a pawn drop never mates
        std::uint64_t held;
        std::memcpy(&held, counts, sizeof held);
        if (!held) return std::nullopt;
        const u128 empty = ~occupied & kPlaying;
        for (const Kind kind : {Kind::Gold, Kind::Rook, Kind::Bichop, Kind::Silver, Kind::Knight, Kind::Lance, Kind::Pawn}) {
            if (!counts[number(kind) - 1]) continue;
            u128 squares = empty & checking(kind);
            if (kind == Kind::Lance || kind == Kind::Pawn) squares &= ~Board::last_row[us].to_u128();
            if (kind == Kind::Knight) squares &= ~Board::last_two_rows[us].to_u128();
            if (kind == Kind::Pawn && squares && (kTables.columns[lowest_index(squares) % 11] & m.pawns & own)) squares = 0;
            for (; squares;) {
                const unsigned to = pop_lowest(squares);
                const Move drop = Move::drop_of(Piece{side, kind}.code(), to);
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
    if (!is_side(side)) return slow();  // the side's ValueError
    const int us = byte_of(side);
    const u128 own = board.color_boards[us].to_u128(), theirs = board.color_boards[us ^ 1].to_u128();
    const u128 kings = board.piece_boards[number(Kind::King)].to_u128();
    const u128 their_kings = kings & theirs, our_kings = kings & own;
    if (!their_kings) return none();
    if ((their_kings & (their_kings - 1)) || (Listing && (our_kings & (our_kings - 1)))) return slow();
    const Movers movers = movers_of(board);
    const u128 occupied = own | theirs;
    const unsigned king = lowest_index(their_kings);
    if (attacked_by(movers, us, own, king, occupied)) return slow();
    if (Listing && our_kings && attacked_by(movers, us ^ 1, theirs, lowest_index(our_kings), occupied)) return slow();
    return fast(Walk<Listing>(board, side, us, king, movers));
}

}  // namespace

std::optional<Move> mate_in_one(const Board& board, Color side) {
    return dispatch<false>(
        board, side, [](const Walk<false>& w) { return w.walk([&](const Check& c) { return w.mates(c); }); },
        [&] { return mate_in_one_played(board, side); }, [] { return std::optional<Move>(); });
}

void check_moves(const Board& board, Color side, MoveList& out) {
    const auto listed = [&] { check_moves_listed(board, side, out); };
    dispatch<true>(
        board, side,
        [&](const Walk<true>& w) {
            out.clear();
            w.walk([&](const Check& c) {
                out.push_back(c.move);
                return false;
            });
        },
        listed, [&] { out.clear(); });
}

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

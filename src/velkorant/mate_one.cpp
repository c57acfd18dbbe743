// Mate in one without listing the legal moves. The attacker's moves that might check are walked
// in legal_moves order: the pieces near the defending king or sliding onto it, the pieces that
// stand between it and one of the attacker's sliders, then the drops (never a pawn's: a pawn
// drop that mates is illegal). Each one is first looked at as a check: who attacks the king
// once it is played, and whether the king, a capture of the checker or an interposition still
// answers it. Only a move none of these answers is played out on a copy and tried in full (its
// legality for the attacker too), so the answer is the first checkmate of legal_moves.
//
// Odd positions, where the defender has two kings or is in check already, are answered by
// playing out every check (mate_in_one_played).
#include <cstdint>
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

// The nearest piece along D from s is one of `sliders`.
template <Direction D>
inline bool slides_onto(unsigned s, u128 occupied, u128 sliders) {
    const u128 ray = kTables.rays[ray_of(D)][s];
    if (!(ray & sliders)) return false;
    const u128 hit = ray & occupied;
    return sliders & bit(D > 0 ? lowest_index(hit) : highest_index(hit));
}

// Some piece among `mine` (of side `by`) attacks s: the steps first, then each line that holds
// a slider of the right kind. A lance slides towards the other side.
inline bool attacked_by(const Movers& m, int by, u128 mine, unsigned s, u128 occupied) {
    if (steppers_onto(m, by, mine, s)) return true;
    const u128 rooks = m.rooks & mine, lances = m.lances & mine, bichops = m.bichops & mine;
    if (kTables.lines[0][s] & (rooks | lances)) {
        if (slides_onto<North>(s, occupied, rooks | (by ? lances : 0)) ||
            slides_onto<South>(s, occupied, rooks | (by ? 0 : lances)) || slides_onto<East>(s, occupied, rooks) ||
            slides_onto<West>(s, occupied, rooks))
            return true;
    }
    return (kTables.lines[1][s] & bichops) &&
           (slides_onto<NorthEast>(s, occupied, bichops) || slides_onto<NorthWest>(s, occupied, bichops) ||
            slides_onto<SouthEast>(s, occupied, bichops) || slides_onto<SouthWest>(s, occupied, bichops));
}

constexpr bool slides_straight(Kind k) { return k == Kind::Rook || k == Kind::Dragon; }
constexpr bool slides_diagonal(Kind k) { return k == Kind::Bichop || k == Kind::Horse; }

// One position's search for a mate in one by side `us`, whose opponent has the one king `king`
// and is not in check.
struct Search {
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
    u128 discoverers = 0;         // the attacker's pieces alone between the king and a slider

    Search(const Board& b, Color s, int u, unsigned k, const Movers& movers)
        : board(b), side(s), us(u), them(u ^ 1), king(k), m(movers) {
        own = board.color_boards[us].to_u128();
        theirs = board.color_boards[them].to_u128();
        occupied = own | theirs;
        rooks = m.rooks & own, bichops = m.bichops & own, lances = m.lances & own;
        our_kings = board.piece_boards[number(Kind::King)].to_u128() & own;
        king_lines = kTables.lines[0][king] | kTables.lines[1][king];
        straight = rook_attacks(king, occupied);
        diagonal = bichop_attacks(king, occupied);
        if (!((kTables.lines[0][king] & (rooks | lances)) | (kTables.lines[1][king] & bichops))) return;
        for (unsigned d = 0; d < 8; ++d) {
            const u128 ray = kTables.rays[d][king];
            const u128 sliders = (d & 1 ? bichops : rooks) | (kDirections[d] == forward(them) ? lances : 0);
            if (!(ray & sliders)) continue;
            u128 hit = ray & occupied;
            if (!hit) continue;
            const bool up = kDirections[d] > 0;
            const unsigned first = up ? lowest_index(hit) : highest_index(hit);
            if (!(own & bit(first))) continue;
            hit &= ~bit(first);
            if (hit && (sliders & bit(up ? lowest_index(hit) : highest_index(hit)))) discoverers |= bit(first);
        }
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

    // Whether the defender, after the attacker's piece (of kind `kind` on arrival) comes to `to`
    // from `from` (a drop: from_bit 0), is in check and has none of the quick answers: a king
    // step to a square nothing attacks, a capture of a lone checker, an interposition. False
    // means surely no mate; true means the move is to be tried in full.
    bool unanswered(u128 from_bit, unsigned to, Kind kind) const {
        const u128 to_bit = bit(to);
        const u128 after = (occupied & ~from_bit) | to_bit;
        const u128 kingless = after & ~bit(king);
        const u128 defenders = theirs & ~to_bit;
        // The moved piece's reach with the king gone: a slide through the king covers the
        // square behind it.
        const u128 reach = attacks(us, kind, to, kingless);
        u128 checkers = reach & bit(king) ? to_bit : 0;
        u128 r = rooks & ~from_bit, b = bichops & ~from_bit, l = lances & ~from_bit;
        if (slides_straight(kind)) r |= to_bit;
        if (slides_diagonal(kind)) b |= to_bit;
        if (kind == Kind::Lance) l |= to_bit;
        const auto lined = [&](u128 occ, u128 gone) {
            return ((rook_attacks(king, occ) & r) | (bichop_attacks(king, occ) & b) | (lance_attacks(them, king, occ) & l)) &
                   ~gone;
        };
        if (discoverers & from_bit) checkers |= lined(after, to_bit);
        if (!checkers) return false;

        // The king steps where nothing attacks it, the moved piece's square included.
        const u128 others = own & ~from_bit;
        for (u128 flights = step_attacks(them, Kind::King, king) & ~defenders & ~reach; flights;)
            if (!attacked_by(m, us, others, pop_lowest(flights), kingless)) return false;
        if (checkers & (checkers - 1)) return true;  // a double check: only the king could answer

        // Another piece answers when it takes the checker or steps between, and leaves no
        // line open onto its king.
        const unsigned checker = lowest_index(checkers);
        const u128 guards = defenders & ~bit(king);
        const auto answers = [&](u128 pieces, unsigned onto) {
            for (; pieces;) {
                const unsigned p = pop_lowest(pieces);
                if (!(king_lines & bit(p))) return true;
                if (!lined((after & ~bit(p)) | bit(onto), bit(checker))) return true;
            }
            return false;
        };
        if (answers(attackers_onto(m, them, guards, checker, after), checker)) return false;
        u128 between = 0;
        for (unsigned d = 0; d < 8; ++d)
            if (kTables.rays[d][king] & checkers) {
                between = kTables.rays[d][king] & ~kTables.rays[d][checker] & ~checkers;
                break;
            }
        if (!between) return true;
        const std::uint8_t* hand = board.hand.counts.data() + 8 * them;
        const auto held = [&](Kind k) { return hand[number(k) - 1] != 0; };
        if (held(Kind::Gold) || held(Kind::Rook) || held(Kind::Bichop) || held(Kind::Silver)) return false;
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
        if (between & dropped) return false;
        for (u128 rest = between; rest;) {
            const unsigned s = pop_lowest(rest);
            if (answers(attackers_onto(m, them, guards, s, after), s)) return false;
        }
        return true;
    }

    // The move, legal for the attacker, leaves the defender no legal move.
    bool mates(Move move) const {
        if (!is_legal(board, side, move)) return false;
        Board child = board;
        play_legal(child, move);
        return !has_legal_move(child, opponent(side));
    }

    std::optional<Move> run() const {
        const u128 zone = Board::promotion_zone[us].to_u128();
        const u128 open = ~own & kPlaying;
        // Board moves, by ascending source: a stepping piece near the king, any slider, any
        // piece that uncovers one. A king never checks by itself.
        const u128 sliding = rooks | bichops | lances;
        const u128 knights = m.knights & own;
        u128 sources = (own & kNear.of[0][king] & ~our_kings & ~knights) | (knights & kNear.of[1][king]) | discoverers;
        // A slider whose lines on an empty board miss every square it might check from moves
        // nowhere that checks.
        const u128 near = step_attacks(them, Kind::King, king);
        for (u128 rest = sliding & ~sources; rest;) {
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
            for (; plain;) {
                const unsigned to = pop_lowest(plain);
                if (unanswered(bit(from), to, kind) && mates(Move::normal(from, to))) return Move::normal(from, to);
            }
            for (; promoting;) {
                const unsigned to = pop_lowest(promoting);
                if (unanswered(bit(from), to, promoted(kind)) && mates(Move::promoting(from, to)))
                    return Move::promoting(from, to);
            }
        }
        // Drops in legal_moves order, the pawn's left out.
        const std::uint8_t* hand = board.hand.counts.data() + 8 * us;
        const u128 empty = ~occupied & kPlaying;
        for (const Kind kind : {Kind::Gold, Kind::Rook, Kind::Bichop, Kind::Silver, Kind::Knight, Kind::Lance}) {
            if (!hand[number(kind) - 1]) continue;
            u128 squares = empty & checking(kind);
            if (kind == Kind::Lance) squares &= ~Board::last_row[us].to_u128();
            if (kind == Kind::Knight) squares &= ~Board::last_two_rows[us].to_u128();
            for (; squares;) {
                const unsigned to = pop_lowest(squares);
                const Move drop = Move::drop_of(Piece{side, kind}.code(), to);
                if (unanswered(0, to, kind) && mates(drop)) return drop;
            }
        }
        return std::nullopt;
    }
};

}  // namespace

std::optional<Move> mate_in_one(const Board& board, Color side) {
    if (!is_side(side)) return mate_in_one_played(board, side);  // the side's ValueError
    const int us = byte_of(side);
    const u128 kings = (board.piece_boards[number(Kind::King)] & board.color_boards[us ^ 1]).to_u128();
    if (!kings) return std::nullopt;  // nothing checks a side without a king
    const unsigned king = lowest_index(kings);
    const Movers movers = movers_of(board);
    if ((kings & (kings - 1)) || attacked_by(movers, us, board.color_boards[us].to_u128(), king,
                                             (board.color_boards[0] | board.color_boards[1]).to_u128()))
        return mate_in_one_played(board, side);
    return Search(board, side, us, king, movers).run();
}

}  // namespace velkorant

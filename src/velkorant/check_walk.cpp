// The attacker's checks and mate in one, without listing the legal moves. The moves that might
// check are walked in legal_moves order: the pieces near the defending king or sliding onto it,
// the pieces that stand between it and one of the attacker's sliders, then the drops. Each is
// kept when it checks (the moved piece reaches the king, or a slider it uncovers does) and is
// legal (a pinned piece stays on its line, the king steps where nothing attacks it, a pawn drop
// does not mate). Listing the checks alone, the pieces that uncover nothing are taken a kind at
// a time instead, the pieces that step all at once, and the few checks put in order at the end.
//
// For mate in one the position is first screened for a quick proof that no check mates (most
// positions have none, mate_screen.hpp). Then each check is looked at for the defender's
// replies: a king step to a square nothing attacks, a capture of a lone checker, an
// interposition. Those are all the defender's moves in check, so a check without any mates
// once it is legal for the attacker; only a check the defender might answer with a pawn drop
// that checks the attacker's king in turn is played out on a copy and tried in full. The answer
// is the first checkmate of legal_moves. (A pawn drop never mates: one that would is illegal.)
//
// Odd positions are left to the listed moves (checks.cpp): the defender with two kings or in check
// already, the attacker with two kings, or in check where the checks are wanted with a mate.
// Listing the checks alone, an attacker in check keeps the moves that answer it: a king step to a
// square nothing attacks, or a move onto the lone checker or between it and the king.
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <type_traits>

#include "velkorant/attacks.hpp"
#include "velkorant/checks.hpp"
#include "velkorant/cloned.hpp"
#include "velkorant/legal.hpp"
#include "velkorant/mate_screen.hpp"

namespace velkorant {

namespace {

using namespace mate_screen;

// Puts board moves in legal_moves order: by source, the moves that do not promote first, then by
// destination. There are seldom more than a few.
void in_listed_order(std::uint16_t* begin, std::uint16_t* end) {
    const auto key = [](std::uint16_t w) { return (w & 0x7f) << 8 | (w >> 14 & 1) << 7 | (w >> 7 & 0x7f); };
    for (std::uint16_t* at = begin + 1; at < end; ++at) {
        const std::uint16_t w = *at;
        std::uint16_t* to = at;
        for (; to > begin && key(to[-1]) > key(w); --to) *to = to[-1];
        *to = w;
    }
}

// What a walk that lists the checks, with no screen, takes the screen to have learnt: nothing.
const Screened kUnscreened{};

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
    const Movers& m;              // the caller's, alive as long as the walk
    u128 own, theirs, occupied;
    u128 rooks, bichops, lances;  // the attacker's sliders
    u128 our_kings;
    u128 straight, diagonal;      // what a rook, a bishop on the king's square reaches
    u128 slides_onto_king[4] = {}; // by kSlideWay: nothing, straight, diagonal, a lance's way
    u128 discoverers;             // the attacker's pieces alone between the king and a slider
    mutable u128 pinned = 0;      // the attacker's pieces alone between its own king and a slider
    mutable bool safety_known = false, unsafe = false;  // see settled()
    bool evades = false;          // the attacker, in check, is given the moves that answer it
    mutable u128 answering = ~u128{0};  // where a piece other than the king may go: see settled()
    const Screened& screened;     // for mate in one: what the screen learnt

    Walk(const Board& b, Color s, int u, unsigned k, const Movers& movers, const Screened& learnt = kUnscreened,
         bool evading = false)
        : board(b), side(s), us(u), them(u ^ 1), king(k), m(movers), evades(evading), screened(learnt) {
        own = board.color_boards[us].to_u128();
        theirs = board.color_boards[them].to_u128();
        occupied = own | theirs;
        rooks = m.rooks & own, bichops = m.bichops & own, lances = m.lances & own;
        our_kings = board.piece_boards[number(Kind::King)].to_u128() & own;
        // The slides onto the king, wanted only where the screen has named no landing squares
        // (which come grouped by the kind arriving there).
        straight = diagonal = 0;
        if (!landed()) {
            straight = rook_attacks(king, occupied);
            diagonal = bichop_attacks(king, occupied);
            // A lance reaches the king along the part of its column on the lance's side.
            slides_onto_king[1] = straight, slides_onto_king[2] = diagonal;
            slides_onto_king[3] = straight & kTables.rays[ray_of(forward(them))][king];
        }
        // No piece of ours stands alone between the king and a slider of ours when none sees
        // the king past our own pieces (all squares count as seen until the screen has looked;
        // a walk that lists has no screen).
        discoverers = Listing || (screened.seen_past & bit(king))
                          ? alone_between(king, occupied, own, rooks, bichops, lances, forward(them))
                          : 0;
    }

    // The screen has named the squares a mating move comes to (never for a walk that lists).
    bool landed() const {
        if constexpr (Listing) return false;
        else return screened.landing_named();
    }

    // Whether the attacker's king is out of check, learnt (with its pins) only once a check is
    // about to be kept, or for a walk that only looks for a mate, once one leaves no reply:
    // many positions have none, and then whether it is in check changes nothing. In check, a
    // walk that lists stops and `unsafe` sends the position to the listed ways, unless it
    // `evades`: then the pieces other than the king may only take a lone checker or come between
    // it and the king (`answering`), and against two checkers nothing but the king moves.
    bool settled() const {
        if (!safety_known) {
            safety_known = true;
            if (our_kings) {
                const unsigned k = lowest_index(our_kings);
                if (attacked_by(m, them, theirs, k, occupied)) {
                    if (!evades) return !(unsafe = true);
                    answering = answers_to(k, attackers_onto(m, them, theirs, k, occupied));
                }
                pinned = alone_between(k, occupied, own, m.rooks & theirs, m.bichops & theirs, m.lances & theirs,
                                       forward(us));
            }
        }
        return !unsafe;
    }

    // The squares that answer the check of `checkers` on the king on k, for a piece other than
    // the king: the checker's own and those between it, when alone, and the king.
    static u128 answers_to(unsigned k, u128 checkers) {
        if (checkers & (checkers - 1)) return 0;
        const unsigned checker = lowest_index(checkers);
        for (unsigned d = 0; d < 8; ++d)
            if (kTables.rays[d][k] & checkers) return (kTables.rays[d][k] & ~kTables.rays[d][checker]) | checkers;
        return checkers;  // a knight's jump
    }

    // The squares whence a piece of `kind` of the attacker reaches the king: its steps from
    // there (a dragon's diagonal ones, a horse's straight ones) and its slides, two loads
    // rather than a jump by kind.
    u128 checking(Kind kind) const { return step_attacks(them, kind, king) | slides_onto_king[kSlideWay[number(kind)]]; }

    // The legal checks by the pieces that uncover no slider of the attacker's, pushed to `out`
    // by kind of piece rather than in legal_moves order. Each way of stepping moves all the
    // attacker's pieces of a kind at once, a set shifted by the step; a slider slides only
    // along its lines that meet a square it might check from.
    template <int Us>
    void direct_checks(MoveList& out) const {
        constexpr int f = forward(Us);  // one row forward; every step below is Black's turned round for White
        const u128 open = ~own & kPlaying;
        const u128 zone = Board::promotion_zone[Us].to_u128();
        const u128 mine = own & ~discoverers;
        const auto of = [&](Kind k) { return board.piece_boards[number(k)].to_u128() & mine; };
        // Whence each kind checks: a gold's squares serve every piece arriving promoted, but a
        // dragon's and horse's.
        const u128 by_pawn = step_attacks(them, Kind::Pawn, king), by_knight = step_attacks(them, Kind::Knight, king);
        const u128 by_silver = step_attacks(them, Kind::Silver, king), by_gold = step_attacks(them, Kind::Gold, king);
        const u128 by_dragon = straight | step_attacks(them, Kind::Dragon, king);
        const u128 by_horse = diagonal | step_attacks(them, Kind::Horse, king);
        // The moves are listed first, and those that leave the attacker's king attacked taken
        // out at the end.
        // Room for every piece of the attacker's to go to every square, promoting or not.
        const auto pieces = static_cast<std::size_t>(std::popcount(static_cast<std::uint64_t>(own >> 64)) +
                                                     std::popcount(static_cast<std::uint64_t>(own)));
        std::uint16_t* const first = out.append_space(pieces * 81 * 2);
        std::uint16_t* end = first;
        const auto add = [&](u128 targets, int step, bool promote) {
            for (; targets;) {
                const unsigned to = pop_lowest(targets);
                const unsigned from = static_cast<unsigned>(static_cast<int>(to) - step);
                *end++ = (promote ? Move::promoting(from, to) : Move::normal(from, to)).word;
            }
        };
        const auto add_from = [&](unsigned from, u128 plain, u128 promoting) {
            for (; plain;) *end++ = Move::normal(from, pop_lowest(plain)).word;
            for (; promoting;) *end++ = Move::promoting(from, pop_lowest(promoting)).word;
        };
        // The pieces that step, each way at once: the squares it checks from as it is, and
        // promoted (a move into, out of or within the zone may promote).
        const auto steps = [&]<int D>(u128 pieces, u128 plain_squares, u128 promoting_squares) {
            const u128 arrived = shifted<D>(pieces) & open;
            const u128 plain = arrived & plain_squares;
            const u128 promoting = (arrived & zone) | (shifted<D>(pieces & zone) & open);
            if (plain | (promoting & promoting_squares)) {
                add(plain, D, false);
                add(promoting & promoting_squares, D, true);
            }
        };
        const u128 near = kNear.of[0][king];
        if (const u128 pawns = of(Kind::Pawn) & near)
            steps.template operator()<f>(pawns, by_pawn & ~Board::last_row[Us].to_u128(), by_gold);
        if (const u128 knights = of(Kind::Knight) & kNear.of[1][king]) {
            const u128 squares = by_knight & ~Board::last_two_rows[Us].to_u128();
            steps.template operator()<2 * f - 1>(knights, squares, by_gold);
            steps.template operator()<2 * f + 1>(knights, squares, by_gold);
        }
        if (const u128 silvers = of(Kind::Silver) & near) {
            steps.template operator()<f>(silvers, by_silver, by_gold);
            steps.template operator()<f - 1>(silvers, by_silver, by_gold);
            steps.template operator()<f + 1>(silvers, by_silver, by_gold);
            steps.template operator()<-f - 1>(silvers, by_silver, by_gold);
            steps.template operator()<-f + 1>(silvers, by_silver, by_gold);
        }
        if (const u128 golds = m.golds & mine & near) {
            steps.template operator()<f>(golds, by_gold, 0);
            steps.template operator()<f - 1>(golds, by_gold, 0);
            steps.template operator()<f + 1>(golds, by_gold, 0);
            steps.template operator()<-1>(golds, by_gold, 0);
            steps.template operator()<1>(golds, by_gold, 0);
            steps.template operator()<-f>(golds, by_gold, 0);
        }
        if (const u128 dragons = of(Kind::Dragon)) {  // a step may land on one of its kind's lines
            steps.template operator()<f - 1>(dragons, by_dragon, 0);
            steps.template operator()<f + 1>(dragons, by_dragon, 0);
            steps.template operator()<-f - 1>(dragons, by_dragon, 0);
            steps.template operator()<-f + 1>(dragons, by_dragon, 0);
        }
        if (const u128 horses = of(Kind::Horse)) {  // a step may land on one of its kind's lines
            steps.template operator()<f>(horses, by_horse, 0);
            steps.template operator()<-f>(horses, by_horse, 0);
            steps.template operator()<-1>(horses, by_horse, 0);
            steps.template operator()<1>(horses, by_horse, 0);
        }
        // The sliders, one by one: `plain` the squares whence the piece checks as it is,
        // `promoted` those whence it checks promoted.
        // A rook or a bishop whose lines miss every such square is passed over at one look.
        const auto slides = [&]<Direction... D>(u128 pieces, u128 plain_squares, u128 promoted_squares) {
            const u128 wanted = (plain_squares | promoted_squares) & open;
            for (; pieces;) {
                const unsigned from = pop_lowest(pieces);
                if constexpr (sizeof...(D) == 4)
                    if (!(kTables.lines[((D == NorthWest) || ...) ? 1 : 0][from] & wanted)) continue;
                u128 reach = 0;
                ((reach |= (kTables.rays[ray_of(D)][from] & wanted) ? slide<D>(from, occupied) : u128{0}), ...);
                reach &= open;
                if (!reach) continue;
                const u128 promoting = promoted_squares & (kTables.in_zone[Us][from] ? reach : reach & zone);
                add_from(from, reach & plain_squares, promoting);
            }
        };
        slides.template operator()<North, West, South, East>(of(Kind::Rook), straight, by_dragon);
        slides.template operator()<North, West, South, East>(of(Kind::Dragon), by_dragon, 0);
        slides.template operator()<NorthWest, SouthWest, SouthEast, NorthEast>(of(Kind::Bichop), diagonal, by_horse);
        slides.template operator()<NorthWest, SouthWest, SouthEast, NorthEast>(of(Kind::Horse), by_horse, 0);
        // A lance checks only from the king's column or, promoted, from next to the king: it
        // stands within a column of the king's.
        const unsigned column = king % 11;
        const u128 lance_columns = kTables.columns[column - 1] | kTables.columns[column] | kTables.columns[column + 1];
        slides.template operator()<static_cast<Direction>(f)>(of(Kind::Lance) & lance_columns,
                                                              slides_onto_king[3] & ~Board::last_row[Us].to_u128(),
                                                              by_gold);
        if (end == first) return;
        settled();
        std::uint16_t* kept = first;
        for (const std::uint16_t* at = first; at < end; ++at)
            if (legal(Move{*at}.from(), Move{*at}.to())) *kept++ = *at;
        out.commit(kept);
        if (kept - first > 1) in_listed_order(first, kept);
    }

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
        if (!(answering & bit(to))) return false;
        if (!(pinned & from_bit)) return true;
        const unsigned k = lowest_index(our_kings);
        for (unsigned d = 0; d < 8; ++d)
            if (kTables.rays[d][k] & from_bit) return (kTables.rays[d][k] & bit(to)) != 0;
        return false;
    }

    // What the defender has against the check: some reply (a king step to a square nothing
    // attacks, a capture of a lone checker or an interposition, by a piece that leaves no line
    // open onto its king), none, or maybe none: a pawn dropped between, which would check the
    // attacker's king and is illegal only if it mates it, is left to the full test.
    enum class Reply { some, none, unsure };

    // The king may take the piece that comes to `to` from the square of `from_bit` (0 for a
    // drop): `to` is next to it and no other piece of ours guards it, the king's own square
    // left open behind it. The defender's likeliest reply: a walk that only looks for a mate
    // asks it of every move it comes to before working the check out, so its replies below
    // leave that flight out. (A walk that lists the checks works each out anyway, and finds
    // the reply among the flights as cheaply.)
    bool king_takes(unsigned to, u128 from_bit) const {
        const u128 to_bit = bit(to);
        if (!(step_attacks(them, Kind::King, king) & to_bit)) return false;
        return !attacked_by(m, us, own & ~from_bit, to, (occupied & ~from_bit & ~bit(king)) | to_bit);
    }

    Reply reply(const Check& c) const {
        const u128 to_bit = bit(c.to);
        const u128 after = (occupied & ~c.from_bit) | to_bit;
        const u128 kingless = after & ~bit(king);
        const u128 defenders = theirs & ~to_bit;
        const u128 others = own & ~c.from_bit;
        // A flight nothing attacked before the move stays free unless the moved piece takes it
        // or a slider sees it through the square left.
        if (screened.free & ~c.reach & (c.from_bit ? ~screened.seen_past : ~u128{0})) return Reply::some;
        const u128 asked = Listing ? 0 : to_bit;  // the king taking the piece, asked already
        for (u128 flights = step_attacks(them, Kind::King, king) & ~defenders & ~c.reach & ~asked; flights;)
            if (!attacked_by(m, us, others, pop_lowest(flights), kingless)) return Reply::some;
        if (c.checkers & (c.checkers - 1)) return Reply::none;  // a double check: only the king could answer

        const unsigned checker = lowest_index(c.checkers);
        const u128 guards = defenders & ~bit(king);
        const auto answers = [&](u128 pieces, unsigned onto) {
            for (; pieces;) {
                const unsigned p = pop_lowest(pieces);
                if (!((kTables.lines[0][king] | kTables.lines[1][king]) & bit(p))) return true;
                if (!lined(c.from_bit, c.to, c.kind, (after & ~bit(p)) | bit(onto), c.checkers)) return true;
            }
            return false;
        };
        if (answers(attackers_onto(m, them, guards, checker, after), checker)) return Reply::some;
        u128 between = 0;
        for (unsigned d = 0; d < 8; ++d)
            if (kTables.rays[d][king] & c.checkers) {
                between = kTables.rays[d][king] & ~kTables.rays[d][checker] & ~c.checkers;
                break;
            }
        if (!between) return Reply::none;
        const std::uint8_t* hand = board.hand.counts.data() + 8 * them;
        const auto held = [&](Kind k) { return hand[number(k) - 1] != 0; };
        if (held(Kind::Gold) || held(Kind::Rook) || held(Kind::Bichop) || held(Kind::Silver)) return Reply::some;
        u128 dropped = 0, checking_pawns = 0;
        if (held(Kind::Knight)) dropped |= ~Board::last_two_rows[them].to_u128();
        if (held(Kind::Lance)) dropped |= ~Board::last_row[them].to_u128();
        if (held(Kind::Pawn)) {
            // No second unpromoted pawn in a column; one that checks the attacker's king might
            // mate it, which the rules forbid: left to the full test.
            u128 pawn_rows = ~Board::last_row[them].to_u128();
            for (u128 pawns = m.pawns & defenders; pawns;) pawn_rows &= ~kTables.columns[pop_lowest(pawns) % 11];
            for (u128 kings = our_kings; kings;) checking_pawns |= step_attacks(us, Kind::Pawn, pop_lowest(kings));
            checking_pawns &= pawn_rows;
            dropped |= pawn_rows & ~checking_pawns;
        }
        if (between & dropped) return Reply::some;
        for (u128 rest = between; rest;) {
            const unsigned s = pop_lowest(rest);
            if (answers(attackers_onto(m, them, guards, s, after), s)) return Reply::some;
        }
        return between & checking_pawns ? Reply::unsure : Reply::none;
    }

    // The move, legal for the attacker, leaves the defender no legal move: played out on a copy.
    bool played_out_mates(Move move) const {
        Board child = board;
        play_legal(child, move);
        return !has_legal_move(child, opponent(side));
    }

    // The check mates (a pawn drop never does). Most are settled by the replies above; only a
    // check the defender might answer with a pawn drop is played out.
    bool mates(const Check& c) const {
        if (c.move.is_drop() && c.kind == Kind::Pawn) return false;
        const Reply r = reply(c);
        return r != Reply::some && (Listing || legal_here(c)) && (r == Reply::none || played_out_mates(c.move));
    }

    // For a walk that only looks for a mate: the move, one of the attacker's pseudo-legal moves
    // that strands nothing, is legal. With at most one king out of check, its pins tell (found
    // once, as the walk that lists them does); otherwise the full rules.
    bool legal_here(const Check& c) const {
        if (!(our_kings & (our_kings - 1)) && settled()) return !c.from_bit || legal(lowest_index(c.from_bit), c.to);
        return is_legal(board, side, c.move);
    }

    // Calls visit(check) for each legal check in legal_moves order until it returns true, and
    // returns that check's move. Without `Reach` the visitor reads only the move: a check by the
    // moved piece alone (no piece of the attacker uncovered) then goes without its reach, it
    // being known to check from where it lands.
    // With `Uncovering` only the pieces that uncover a slider are walked (then the drops): the
    // others' checks are left to direct_checks().
    template <bool Reach = true, bool Uncovering = false, class Visit>
    std::optional<Move> walk(Visit&& visit) const {
        const u128 zone = Board::promotion_zone[us].to_u128();
        const u128 open = ~own & kPlaying;
        // Board moves, by ascending source: a stepping piece near the king, a slider whose lines
        // reach a square it might check from, any piece that uncovers a slider. A king never
        // checks by itself.
        u128 sources = discoverers;
        if (Uncovering) {
            // The others' checks are listed apart.
        } else if (landed()) {
            // The screen has named the squares a mating move might come to: only the pieces
            // that reach one of them (the sliders among them found by the screen).
            u128 landers = screened.slider_sources;
            for (u128 rest = screened.landing; rest;) landers |= steppers_onto(m, us, own, pop_lowest(rest));
            sources |= landers & ~our_kings;
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
            // A piece that uncovers a slider may check wherever it goes; another only from the
            // squares whence its kind reaches the king, and where the screen has named the
            // squares by kind, from those only.
            if (!(discoverers & bit(from))) {
                if (landed()) {
                    plain &= screened.landing_of(kind);
                    promoting &= screened.landing_of(promoted(kind));
                } else {
                    plain &= checking(kind);
                    if (promoting) promoting &= checking(promoted(kind));
                }
            }
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
                    if (!Listing && king_takes(to, bit(from))) continue;
                    const Check c = check_of(move, bit(from), to, arrives);
                    if (c.checkers && (!Listing || legal(from, to)) && visit(c)) return move;
                }
            }
        }
        // Drops in legal_moves order. A pawn is dropped only in front of the king, in a column
        // without another of the attacker's unpromoted pawns, and never to mate.
        if (landed() && !screened.drop_kinds) return std::nullopt;
        const std::uint8_t* hand = board.hand.counts.data() + 8 * us;
        // The kinds held, by ascending number: Gold, Rook, Bichop, Silver, Knight, Lance, Pawn.
        std::uint16_t held = held_kinds(hand) & static_cast<std::uint16_t>(kDropKinds | kinds_bit(Kind::Pawn));
        if (!Listing) held &= ~kinds_bit(Kind::Pawn);  // a pawn drop never mates
        if (landed()) held &= screened.drop_kinds;  // those the screen has squares for
        if (!held) return std::nullopt;
        const u128 empty = ~occupied & kPlaying;
        for (; held; held &= held - 1) {
            const Kind kind = static_cast<Kind>(std::countr_zero(held));
            u128 squares = empty & (landed() ? screened.drop_at[number(kind)] : checking(kind));
            if (kind == Kind::Lance || kind == Kind::Pawn) squares &= ~Board::last_row[us].to_u128();
            if (kind == Kind::Knight) squares &= ~Board::last_two_rows[us].to_u128();
            if (kind == Kind::Pawn && squares && (kTables.columns[lowest_index(squares) % 11] & m.pawns & own)) squares = 0;
            for (; squares;) {
                const unsigned to = pop_lowest(squares);
                const Move drop = Move::drop_of(Piece{side, kind}.code(), to);
                if (Listing && !settled()) return std::nullopt;
                if (Listing && !(answering & bit(to))) continue;
                // A drop checks from every square whence its kind reaches the king.
                if (!Reach && kind != Kind::Pawn) {
                    if (visit(Check{drop, 0, to, kind, 0, bit(to)})) return drop;
                    continue;
                }
                if (!Listing && king_takes(to, 0)) continue;
                const Check c = check_of(drop, 0, to, kind);
                if (!c.checkers) continue;
                if (kind == Kind::Pawn) {
                    const Reply r = reply(c);
                    if (r == Reply::none || (r == Reply::unsure && played_out_mates(drop))) continue;
                }
                if (visit(c)) return drop;
            }
        }
        return std::nullopt;
    }
};

// Runs `fast` with a Walk of the position when it is one the walk handles, else `slow`; a
// defender without a king is given no check at all (`none`). A walk that `evades` lists the
// checks of an attacker in check too.
template <bool Listing, class Fast, class Slow, class None>
auto dispatch(const Board& board, Color side, Fast fast, Slow slow, None none, bool evades = false) {
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
        Walk<Listing> walk(board, side, us, king, movers, kUnscreened, evades);
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
        Walk<Listing> walk(board, side, us, king, movers, screened);
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
            if (w.us) w.template direct_checks<1>(out); else w.template direct_checks<0>(out);
            // The checks of the pieces that uncover a slider (seldom any) are put among them.
            const std::size_t direct = out.size();
            std::size_t uncovering = 0;
            w.template walk<false, true>([&](const Check& c) {
                out.push_back(c.move);
                uncovering += !c.move.is_drop();
                return false;
            });
            if (uncovering) in_listed_order(out.data(), out.data() + direct + uncovering);
        },
        listed, [&] { out.clear(); }, true);
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

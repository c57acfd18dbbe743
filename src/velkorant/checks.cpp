// Checks are found among the legal moves without playing them: a move checks when the moved
// piece, from its destination and in its new kind, reaches the opponent's king, or when leaving
// its source uncovers a rook, bishop or lance of the mover on a line to that king. A drop can
// only check directly. A side whose opponent has no king gives no check, and so never mates.
// A pawn drop that would mate is not a legal move, so it is never listed.
//
// In an odd position where the opponent is in check already, every move is played out on a copy.
//
// These are the ways of the odd positions; the usual ones are walked without the legal move list
// (check_walk.cpp), and held to these in the tests.
#include "velkorant/checks.hpp"

#include <cstddef>
#include <cstdint>

#include "velkorant/attacks.hpp"
#include "velkorant/legal.hpp"

namespace velkorant {

namespace {

// What a check by `us` needs to know of the position before the move.
struct Target {
    int us;
    u128 kings;     // the opponent's kings (two in an odd position)
    u128 occupied;
    u128 rooks;     // the mover's rooks and dragons
    u128 bichops;   // bishops and horses
    u128 lances;
    bool played;    // the opponent is in check already: play each move out
};

Target target_of(const Board& board, Color side) {
    const int us = side == Color::White ? 1 : 0;
    const auto of = [&](Kind k) { return board.piece_boards[number(k)].to_u128(); };
    const u128 own = board.color_boards[us].to_u128();
    const u128 theirs = board.color_boards[us ^ 1].to_u128();
    return Target{us,
                  of(Kind::King) & theirs,
                  own | theirs,
                  (of(Kind::Rook) | of(Kind::Dragon)) & own,
                  (of(Kind::Bichop) | of(Kind::Horse)) & own,
                  of(Kind::Lance) & own,
                  in_check(board, opponent(side))};
}

bool played_checks(const Board& board, Color side, Move move) {
    Board after = board;
    play_legal(after, move);
    return in_check(after, opponent(side));
}

bool checks(const Target& t, const Board& board, Color side, Move move) {
    if (!t.kings) return false;
    if (t.played) return played_checks(board, side, move);
    const unsigned to = move.to();
    if (move.is_drop()) return attacks(t.us, move.get_piece().piece_type, to, t.occupied | bit(to)) & t.kings;
    const unsigned from = move.from();
    const Kind kind = board.square_kinds[from];
    const u128 occupied = (t.occupied & ~bit(from)) | bit(to);
    if (attacks(t.us, move.is_promote() ? promoted(kind) : kind, to, occupied) & t.kings) return true;
    for (u128 kings = t.kings; kings;) {
        const unsigned k = lowest_index(kings);
        kings &= ~bit(k);
        if (!((kTables.lines[0][k] | kTables.lines[1][k]) & bit(from))) continue;
        const u128 rest = ~bit(from);
        if ((rook_attacks(k, occupied) & t.rooks & rest) || (bichop_attacks(k, occupied) & t.bichops & rest) ||
            (lance_attacks(t.us ^ 1, k, occupied) & t.lances & rest))
            return true;
    }
    return false;
}

}  // namespace

bool gives_check(const Board& board, Color side, Move move) { return checks(target_of(board, side), board, side, move); }

void check_moves_listed(const Board& board, Color side, MoveList& out) {
    const Target t = target_of(board, side);
    if (t.played) {
        legal_moves(board, side, out);
    } else {
        // A piece checks directly only from a square whence its kind reaches a king: one the
        // same kind of the other side reaches from the king. A piece off every line through the
        // king uncovers nothing, and leaving its square changes no line from the king, so its
        // moves are cut to those squares; the pieces on the lines keep all theirs, tried below.
        u128 squares[kKinds] = {};
        u128 lines = 0;
        for (u128 kings = t.kings; kings;) {
            const unsigned k = lowest_index(kings);
            kings &= ~bit(k);
            lines |= kTables.lines[0][k] | kTables.lines[1][k];
            for (int kind = 1; kind < kKinds; ++kind)
                squares[kind] |= attacks(t.us ^ 1, static_cast<Kind>(kind), k, t.occupied);
        }
        legal_moves_onto(board, side, out, squares, lines);
    }
    // Kept in place: the checks are a prefix of the list, in their order.
    std::uint16_t* const words = out.data();
    std::size_t kept = 0;
    for (std::size_t i = 0; i < out.size(); ++i)
        if (checks(t, board, side, Move{words[i]})) words[kept++] = words[i];
    out.commit(words + kept);
}

std::optional<Move> mate_in_one_played(const Board& board, Color side) {
    MoveList list;
    check_moves_listed(board, side, list);
    for (std::size_t i = 0; i < list.size(); ++i) {
        const Move move = list[i];
        Board after = board;
        play_legal(after, move);
        if (!has_legal_move(after, opponent(side))) return move;
    }
    return std::nullopt;
}

}  // namespace velkorant

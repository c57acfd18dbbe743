// Checks are found among the legal moves by playing each on a copy of the position and asking
// whether the opponent's king is attacked. A side whose opponent has no king gives no check,
// and so never mates. A pawn drop that would mate is not a legal move, so it is never listed.
#include "velkorant/checks.hpp"

#include <cstddef>
#include <cstdint>

#include "velkorant/legal.hpp"

namespace velkorant {

bool gives_check(const Board& board, Color side, Move move) {
    Board after = board;
    play_legal(after, move);
    return in_check(after, opponent(side));
}

void check_moves(const Board& board, Color side, MoveList& out) {
    legal_moves(board, side, out);
    if (!has_king(board, opponent(side))) {
        out.clear();
        return;
    }
    // Kept in place: the checks are a prefix of the list, in their order.
    std::uint16_t* const words = out.data();
    std::size_t kept = 0;
    for (std::size_t i = 0; i < out.size(); ++i)
        if (gives_check(board, side, Move{words[i]})) words[kept++] = words[i];
    out.commit(words + kept);
}

std::optional<Move> mate_in_one(const Board& board, Color side) {
    MoveList checks;
    check_moves(board, side, checks);
    for (std::size_t i = 0; i < checks.size(); ++i) {
        const Move move = checks[i];
        Board after = board;
        play_legal(after, move);
        if (!has_legal_move(after, opponent(side))) return move;
    }
    return std::nullopt;
}

}  // namespace velkorant

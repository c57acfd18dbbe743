// Checks and mate in one: the legal moves that attack the opponent's king, and the first of them
// that leaves the opponent without a legal reply. `side` is Black or White; any other colour is a
// ValueError, as for legal_moves.
#pragma once

#include <optional>

#include "velkorant/board.hpp"

namespace velkorant {

// The legal moves of `side` that give check, in the order legal_moves lists them.
void check_moves(const Board& board, Color side, MoveList& out);
// Whether legal `move` of `side` gives check (the opponent's king attacked after it).
bool gives_check(const Board& board, Color side, Move move);
// The first legal move of `side`, in legal_moves order, that checkmates; nullopt when none.
// Found without listing the legal moves (mate_one.cpp).
std::optional<Move> mate_in_one(const Board& board, Color side);
// The same answer from every check played out on a copy: the way for odd positions, and the
// reference the faster search is held to.
std::optional<Move> mate_in_one_played(const Board& board, Color side);

}  // namespace velkorant

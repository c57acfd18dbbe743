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
std::optional<Move> mate_in_one(const Board& board, Color side);
// Both at once, as a mate search wants them: the first checkmate as mate_in_one finds it, else
// nullopt with every check in `out` (which holds some of them when a mate is found).
std::optional<Move> mate_or_checks(const Board& board, Color side, MoveList& out);

// check_moves and mate_in_one found from the legal move list (every check played out, for
// mate in one): the way for odd positions, and what the walk above is held to.
void check_moves_listed(const Board& board, Color side, MoveList& out);
std::optional<Move> mate_in_one_played(const Board& board, Color side);

}  // namespace velkorant

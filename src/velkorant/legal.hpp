// The full rules of shogi over the pseudo-legal board: king safety, stranded pieces and the
// mating pawn drop. `side` is Black or White; any other colour is a ValueError. The position is
// one of play: pieces on the playing area only, of real kinds, the standard hand table.
//
// A side with two kings (an odd position) is in check when either is attacked, and a move
// must leave neither attacked.
#pragma once

#include <cstdint>

#include "velkorant/board.hpp"
#include "velkorant/checkpoint.hpp"

namespace velkorant {

// The side has a king on the board. A side without one (the attacker of a mating problem) is
// never in check, and the rules that need its king do not apply to it.
bool has_king(const Board& board, Color side);

// A king of the side is attacked by a piece of the other side.
bool in_check(const Board& board, Color side);

// The legal moves of `side`, in the order search_moves lists them, the illegal ones left out:
// no move that leaves the own king attacked, no non-promotion that strands a pawn or lance on
// its last row or a knight on its last two rows, no pawn drop that gives check and leaves the
// defender without a legal reply (a pawn drop that checks but does not mate is legal).
void legal_moves(const Board& board, Color side, MoveList& out);
// legal_moves, and whether `side` is in check (as in_check tells), which the generation finds.
bool legal_moves_in_check(const Board& board, Color side, MoveList& out);

// legal_moves cut to the moves that end on a member of `squares` for the kind the piece has
// there (by kind number): each drop, and each board move but those of the pieces in `free`,
// which keep all theirs. The moves kept come in legal_moves order.
void legal_moves_onto(const Board& board, Color side, MoveList& out, const u128 (&squares)[kKinds], u128 free);

// How many moves legal_moves lists, counted without listing them.
std::uint64_t count_legal_moves(const Board& board, Color side);
// Whether legal_moves lists any move, found without looking further than the first.
bool has_legal_move(const Board& board, Color side);

// `move` (any word) is among legal_moves(board, side).
bool is_legal(const Board& board, Color side, Move move);

// Plays a move known to be legal: what execute_move does, without its checks of the hand slots,
// which such a move cannot fail.
void play_legal(Board& board, Move move);

// The number of legal move sequences of `depth` plies (depth 0 gives 1, a negative depth is a
// ValueError), the leaves counted without being played. The walk keeps one position per ply of
// the deepest line it reaches, whatever `depth` is, and ticks `checkpoint` once per position
// whose moves it lists.
std::uint64_t legal_perft(const Board& board, Color side, int depth, Checkpoint& checkpoint);
std::uint64_t legal_perft(const Board& board, Color side, int depth);

}  // namespace velkorant

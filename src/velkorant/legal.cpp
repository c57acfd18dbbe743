// The full rules over the pseudo-legal generator: each generated move is tried on a copy of the
// board and kept when the mover's king is not left attacked, no piece is stranded, and no pawn
// drop mates.
#include "velkorant/legal.hpp"

namespace velkorant {

namespace {

// A pawn or lance without a move on its last row, a knight on its last two rows.
bool strands(const Board& board, Color side, Move move) {
    if (move.is_drop() || move.is_promote()) return false;
    const Kind kind = board.square_kinds[move.from()];
    const unsigned s = byte_of(side);
    if (kind == Kind::Pawn || kind == Kind::Lance) return Board::last_row[s].test(move.to());
    if (kind == Kind::Knight) return Board::last_two_rows[s].test(move.to());
    return false;
}

bool has_legal_move(const Board& board, Color side) {
    MoveList moves;
    legal_moves(board, side, moves);
    return moves.size() != 0;
}

// Plays a pseudo-legal move of `side` on a copy and tells whether the full rules allow it.
bool allowed(const Board& board, Color side, Move move) {
    if (strands(board, side, move)) return false;
    Board child = board;
    execute_move(child, move);
    if (in_check(child, side)) return false;
    const bool pawn_drop = move.is_drop() && Piece::from_u8(move.from()).piece_type == Kind::Pawn;
    if (pawn_drop && in_check(child, opponent(side)) && !has_legal_move(child, opponent(side))) return false;
    return true;
}

}  // namespace

bool has_king(const Board& board, Color side) {
    return (board.piece_boards[number(Kind::King)] & board.color_boards[byte_of(side)]).any();
}

bool in_check(const Board& board, Color side) {
    const BitBoard kings = board.piece_boards[number(Kind::King)] & board.color_boards[byte_of(side)];
    if (!kings.any()) return false;
    MoveList replies;
    search_moves(board, opponent(side), replies);
    for (std::size_t i = 0; i < replies.size(); ++i)
        if (!replies[i].is_drop() && kings.test(replies[i].to())) return true;
    return false;
}

void legal_moves(const Board& board, Color side, MoveList& out) {
    MoveList pseudo;
    search_moves(board, side, pseudo);
    out.clear();
    for (std::size_t i = 0; i < pseudo.size(); ++i)
        if (allowed(board, side, pseudo[i])) out.push_back(pseudo[i]);
}

bool is_legal(const Board& board, Color side, Move move) {
    MoveList moves;
    legal_moves(board, side, moves);
    for (std::size_t i = 0; i < moves.size(); ++i)
        if (moves[i].word == move.word) return true;
    return false;
}

std::uint64_t legal_perft(const Board& board, Color side, int depth) {
    if (depth <= 0) return 1;
    MoveList moves;
    legal_moves(board, side, moves);
    if (depth == 1) return moves.size();
    std::uint64_t nodes = 0;
    for (std::size_t i = 0; i < moves.size(); ++i) {
        Board child = board;
        execute_move(child, moves[i]);
        nodes += legal_perft(child, opponent(side), depth - 1);
    }
    return nodes;
}

}  // namespace velkorant

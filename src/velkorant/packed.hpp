// Positions in 32 bytes and moves in 16 bits, as the training-data files of other shogi programs
// store them.
//
// Two packings of a position (side to move, the two kings' squares, then every square and the
// pieces in hand, each as a prefix code, bit 0 of byte 0 first):
//   hcp    the HuffmanCodedPos of hcpe files;
//   psfen  the PackedSfen of PackedSfenValue files.
// Both scan the squares 1a, 1b, ... 1i, 2a, ... 9i (USI files and ranks), kings excluded, and
// then write Black's hand, White's hand and the pieces in play nowhere (on no square, in no
// hand: a mating problem's box), each group pawns, lances, knights, silvers, golds, bishops,
// rooks. A missing king is written as square 81.
//
// A position with a king missing needs 257 bits (258 with both missing). The bits past the
// 256th are left out when they are zeros, and read back as zeros; a position whose last bits
// are not zeros (the defender of a mating problem holding pieces in hand) has no packing.
//
// Two move words, both with the destination in bits 0..6 and the source in bits 7..13 (squares
// numbered 0..80 as above):
//   move16      (hcpe's bestMove16): bit 14 promotion; a drop's source is 81 + its kind in
//               the order pawn, lance, knight, silver, bishop, rook, gold.
//   psv move16  (PackedSfenValue's move): bit 14 drop, bit 15 promotion; a drop's source is
//               1 + its kind in the same order.
#pragma once

#include <array>
#include <cstdint>

#include "velkorant/game.hpp"

namespace velkorant {

using PackedPosition = std::array<std::uint8_t, 32>;

enum class Packing : std::uint8_t { Hcp, Psfen };

// The packing of a position. One that has none (see above) is a ValueError.
PackedPosition pack(const Board& board, Color turn, Packing packing);
inline PackedPosition pack(const Game& game, Packing packing) { return pack(game.board(), game.turn(), packing); }

// The game of a packed position, `ply` the number of its next move. Bytes that are no packing
// of a position a game can hold (an unknown code, too many pieces of a kind, a king's square
// past 81 or both kings on one, the side not to move in check, bits left over) are a
// ValueError. Every position a game can hold that has a packing reads back to itself.
Game unpack(const std::uint8_t* data, Packing packing, std::int64_t ply = 1);
// The same, without the game around it (the checks are the same).
Position unpack_position(const std::uint8_t* data, Packing packing);

// The move words of a move of `turn`, the side to move on `board`. A move the position does not
// allow is a ValueError.
std::uint16_t move16(const Board& board, Color turn, Move move);
std::uint16_t psv_move16(const Board& board, Color turn, Move move);
// The words of a move already known to be legal where it is played (a record's move, read and
// checked): no check is made.
std::uint16_t move16_of_legal(Move move);
std::uint16_t psv_move16_of_legal(Move move);
// The legal move a word names; a word that names none is a ValueError.
Move move_from_move16(const Board& board, Color turn, std::uint16_t word);
Move move_from_psv_move16(const Board& board, Color turn, std::uint16_t word);

inline std::uint16_t move16(const Game& game, Move move) { return move16(game.board(), game.turn(), move); }
inline std::uint16_t psv_move16(const Game& game, Move move) { return psv_move16(game.board(), game.turn(), move); }
inline Move move_from_move16(const Game& game, std::uint16_t word) { return move_from_move16(game.board(), game.turn(), word); }
inline Move move_from_psv_move16(const Game& game, std::uint16_t word) {
    return move_from_psv_move16(game.board(), game.turn(), word);
}

}  // namespace velkorant

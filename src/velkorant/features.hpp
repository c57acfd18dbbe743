// What a dlshogi-style network reads and predicts: the input planes of a position and the label
// of a move, both seen from the side to move (the board turned for White).
//
// A plane is 9 x 9 float32, indexed by (file - 1) * 9 + (rank - 1) in USI terms. The first set,
// 62 planes, is 31 for the side to move then 31 for the other side: where each of the 14 kinds
// stands (pawn, lance, knight, silver, bishop, rook, gold, king, then the promoted pawn, lance,
// knight, silver, the horse and the dragon), the squares each kind attacks, and whether a
// square has at least 1, 2 or 3 attackers. The second set, 57 planes, is 28 a side for the hand
// (pawns up to 8, lances, knights, silvers and golds up to 4, bishops and rooks up to 2: one
// all-ones plane per piece held) then one plane, all ones when the side to move is in check.
//
// A move label is 81 * class + destination: classes 0..9 are the direction a board move comes
// from (up, up-left, up-right, left, right, down, down-left, down-right, and the two knight
// jumps), 10..19 the same when the move promotes, 20..26 a drop of a pawn, lance, knight,
// silver, bishop, rook or gold.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "velkorant/board.hpp"
#include "velkorant/checkpoint.hpp"

namespace velkorant {

inline constexpr std::size_t kPlaneSquares = 81;
inline constexpr std::size_t kFeatures1 = 62;
inline constexpr std::size_t kFeatures2 = 57;
inline constexpr std::size_t kFeatures1Floats = kFeatures1 * kPlaneSquares;
inline constexpr std::size_t kFeatures2Floats = kFeatures2 * kPlaneSquares;
inline constexpr std::size_t kMoveLabels = 27 * kPlaneSquares;

// Writes every value of both plane sets of a position (Black or White to move) of real pieces
// on the playing area: `planes1` holds kFeatures1Floats floats, `planes2` kFeatures2Floats.
void write_features(const Board& board, Color turn, float* planes1, float* planes2);

// The same values as bytes (0 or 1), both sets one after the other: kFeaturesBytes bytes.
inline constexpr std::size_t kFeaturesBytes = kFeatures1Floats + kFeatures2Floats;
void write_features_bytes(const Board& board, Color turn, std::uint8_t* planes);
// The same without the processor's widest instructions, whatever it has (for tests).
void write_features_bytes_portable(const Board& board, Color turn, std::uint8_t* planes);

// The label of a move of `turn` (a board move between playing squares, or a drop of Gold or
// Rook..Pawn); anything else is a ValueError.
int move_label(Move move, Color turn);

// The labels of `moves`, legal moves of `turn` (unchecked: a list legal_moves made), into out.
void legal_move_labels(const MoveList& moves, Color turn, std::uint16_t* out);

// The labels of the legal moves of `turn`, in the order legal_moves lists them.
std::vector<std::int64_t> legal_labels(const Board& board, Color turn);

// Both plane sets of every position, position i at planes1 + i * kFeatures1Floats and
// planes2 + i * kFeatures2Floats, on up to `threads` threads (0: every core).
void write_features_batch(std::span<const Position> positions, float* planes1, float* planes2, unsigned threads,
                          Checkpoint& checkpoint);

// The label of moves[i], a legal move of positions[i], at out[i]; a move that is not legal
// there is a ValueError naming first + i (the lowest such i, whatever the number of threads).
void move_labels_batch(std::span<const Position> positions, std::span<const Move> moves, std::int64_t* out,
                       unsigned threads, Checkpoint& checkpoint, std::size_t first = 0);

}  // namespace velkorant

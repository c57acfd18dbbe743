// Mate search by proof and disproof numbers (df-pn): can the side to move force checkmate,
// checking with every move, whatever the defender replies?
//
// OR nodes are the attacker's positions (its moves: the legal moves that give check; a check that
// mates proves the node before they are listed), AND nodes the defender's (its moves: every legal
// reply; one not met before is first guessed as hard to prove as it has replies). Lines of at most
// 31 plies are searched first, the whole depth only when that search fails for its depth alone.
// A child is searched until its number passes half as much again as its runner-up's, which
// spares the search from switching between two close children at every node.
// A transposition table of bounded size keeps what the search learnt; when it is full an entry
// of little work gives way, which costs only work. What it settles for one pair of hands it
// settles for the same placement of pieces with hands better for the side that gained: a mate
// holds when the attacker holds more and the defender fewer, a failure the other way round. A position that repeats one on the current
// line is a failure for the attacker; such a failure depends on the line that led there and never
// enters the table as final, so positions reached by another line are judged afresh.
//
// The answer is never wrong: a mating line is replayed and checked (every attacker move a legal
// check, every defender move legal, the last position checkmate) before it is returned, and
// "no mate" is answered only when the failure of every check holds whatever line led to the
// position. Anything short of that, and every limit reached, is "unknown".
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "velkorant/board.hpp"
#include "velkorant/checkpoint.hpp"

namespace velkorant {

enum class MateStatus { Mate, NoMate, Unknown };

struct MateLimits {
    std::uint64_t max_nodes = 0;  // 0: no limit
    double time_limit = 0;        // seconds; 0 or less: no limit
    std::size_t memory_mb = 64;   // the most the table grows to (at least 1): it starts at 1 MB (and 1 MB
                                  // more at most for a cache of the defender's reply counts)
    int max_depth = 4000;         // plies of the line searched; deeper lines count as unknown
    // A shortest mate, the defender resisting longest: the search is repeated with the line
    // limited to 1, 3, 5... plies until it proves a mate. A limit reached first gives Unknown.
    bool shortest = false;
};

struct MateResult {
    MateStatus status = MateStatus::Unknown;
    // When Mate: the attacker's and defender's moves in turn, an odd number of them, the last
    // giving checkmate.
    std::vector<Move> moves;
    std::uint64_t nodes = 0;
    double seconds = 0;
};

// Searches for a mate by `attacker`, the side to move on `board` (it may have no king).
// `checkpoint` ticks once per node searched; a hook that throws stops the search.
MateResult solve_mate(const Board& board, Color attacker, const MateLimits& limits, Checkpoint& checkpoint);

// Whether `moves`, played from `board` with `attacker` to move, is a mating line: every attacker
// move a legal check, every defender move legal, and the defender checkmated at the end.
bool is_mating_line(const Board& board, Color attacker, const std::vector<Move>& moves);

}  // namespace velkorant

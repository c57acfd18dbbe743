// Many games stepped at once, for self-play and reinforcement learning: each step plays one
// move, given by its label, in every game, scores the games that end, starts them again from
// the initial position and writes what a network reads of every game.
//
// Each game's observation is its two plane sets as bytes (kFeaturesBytes), one bool a move
// label (kMoveLabels: is it the label of a legal move) and the side to move (0 Black, 1 White).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "velkorant/checkpoint.hpp"
#include "velkorant/crew.hpp"
#include "velkorant/game.hpp"

namespace velkorant {

struct EnvOptions {
    // A game is cut short (truncated) once this many moves have been played in it.
    std::int64_t max_plies = 512;
    // A game also ends when the side to move can declare a win by the 27-point rule.
    bool declaration = false;
};

// Where the observations of games 0..n-1 go, game i at features + i * kFeaturesBytes,
// legal_mask + i * kMoveLabels and turn + i.
struct Observations {
    std::uint8_t* features;
    bool* legal_mask;
    std::int8_t* turn;
};

// What a step gives besides the observations, one value a game: the reward of the side that
// just moved (+1 it won, -1 it lost, 0 otherwise), whether the game ended by the rules
// (terminated) or by the ply limit (truncated), and for those games the observation of the
// position they ended in (`final`; the other games' rows are left as they were).
struct StepResults {
    float* rewards;
    bool* terminated;
    bool* truncated;
    Observations final;
};

// A label of each row of `masks` (`rows` rows of kMoveLabels bools) among those set, picked by
// uniforms[i] in [0, 1): the k-th set label for k = uniforms[i] times their number, rounded
// down. A row with none set is a ValueError naming it (the lowest such row).
void choose_labels(const bool* masks, std::size_t rows, const double* uniforms, std::int64_t* out);
// The same without the processor's widest instructions, whatever it has (for tests).
void choose_labels_portable(const bool* masks, std::size_t rows, const double* uniforms, std::int64_t* out);

class VecEnv {
public:
    // `count` games at the initial position; a negative ply limit is a ValueError.
    VecEnv(std::size_t count, EnvOptions options);

    std::size_t size() const { return slots_.size(); }
    const EnvOptions& options() const { return options_; }
    // Game i (i < size()).
    const Game& game(std::size_t i) const { return slots_[i].game; }
    // Puts `game` in place i, its history and all, and writes its observation into row i of
    // `out`. A game that has ended (or whose side to move can declare, when declaring ends
    // games), or whose move number cannot grow by max_plies, is a ValueError, and nothing
    // changes.
    void set_game(std::size_t i, Game game, Observations out);

    // Every game back to the initial position; the observations of all into `out`.
    void reset(Observations out, unsigned threads, Checkpoint& checkpoint);
    // Plays actions[i], a move label, in game i, for every i, on up to `threads` threads (0:
    // every core). A label that is no legal move of its game is a ValueError naming the lowest
    // such game, and then no game has moved. A game that ends is started again, and `out` gets
    // the observation of the new game. Returns how many games ended.
    std::size_t step(std::span<const std::int64_t> actions, Observations out, const StepResults& results, unsigned threads,
              Checkpoint& checkpoint);

private:
    struct Slot {
        Game game;
        std::int64_t first_ply = 1;          // the move number when the game was set up
        std::vector<std::uint16_t> labels;   // of the legal moves of the current position
        std::vector<std::uint16_t> moves;    // the move of each label
    };
    // Keeps the labels of `moves`, the legal moves of the slot's game, and writes the game's
    // observation into row i of `out`.
    void observe(Slot& slot, const MoveList& moves, Observations out, std::size_t i) const;
    // The same, the legal moves listed here.
    void observe(Slot& slot, Observations out, std::size_t i) const;
    // Why a game may not be stepped (it has ended), or nullptr.
    const char* ended(const Game& game) const;
    // Calls each(begin, end) over chunks of the games, on up to `threads` threads (0: every
    // core), the crew kept for the next call.
    template <class Each>
    void for_games(unsigned threads, Checkpoint& checkpoint, Each&& each);

    EnvOptions options_;
    std::vector<Slot> slots_;
    Game initial_;
    std::unique_ptr<Crew> crew_;
};

}  // namespace velkorant

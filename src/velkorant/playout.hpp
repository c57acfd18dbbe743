// Random playouts: a game played on by uniformly random legal moves, as Monte Carlo tree search
// rolls positions out.
#pragma once

#include <cstdint>
#include <optional>

#include "velkorant/checkpoint.hpp"
#include "velkorant/game.hpp"

namespace velkorant {

// Plays random legal moves on `game` (each legal move of a position equally likely, drawn from
// `seed`) until the game ends or `max_plies` moves have been played. The outcome, the game's
// own if it had ended already (no move played then); none when the ply limit came first. A
// negative limit is a ValueError. `checkpoint` ticks once a move.
std::optional<Outcome> play_random(Game& game, std::uint64_t seed, std::int64_t max_plies, Checkpoint& checkpoint);

}  // namespace velkorant

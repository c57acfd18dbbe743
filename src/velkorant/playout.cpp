#include "velkorant/playout.hpp"

#include <string>

#include "velkorant/legal.hpp"
#include "velkorant/random.hpp"

namespace velkorant {

std::optional<Outcome> play_random(Game& game, std::uint64_t seed, std::int64_t max_plies, Checkpoint& checkpoint) {
    if (max_plies < 0) throw ValueError("max_plies is 0 or more, not " + std::to_string(max_plies));
    Random random(seed);
    MoveList moves;
    for (std::int64_t played = 0;; ++played) {
        if (std::optional<Outcome> outcome = game.outcome()) return outcome;
        if (played == max_plies) return std::nullopt;
        moves.clear();
        legal_moves(game.board(), game.turn(), moves);
        game.push_legal(moves[random.below(static_cast<std::uint32_t>(moves.size()))]);
        checkpoint.tick();
    }
}

}  // namespace velkorant

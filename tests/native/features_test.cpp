// Self-checking tests of the feature planes as bytes: the copy for processors with AVX-512 byte
// permutes (where this one has them), the portable writer and the float planes must agree on
// every byte of positions from random games, both sides to move, hands full and empty. Exits
// non-zero when a check fails.
#include <cstdint>
#include <cstdio>
#include <random>
#include <vector>

#include "velkorant/features.hpp"
#include "velkorant/game.hpp"
#include "velkorant/legal.hpp"

#include "check.hpp"

using namespace velkorant;
using check::show;

namespace {

// The first square where two plane sets differ, or -1.
template <class A, class B>
long first_difference(const A* a, const B* b) {
    for (std::size_t i = 0; i < kFeaturesBytes; ++i)
        if (static_cast<int>(a[i]) != static_cast<int>(b[i])) return static_cast<long>(i);
    return -1;
}

void test_writers_agree_on_random_games() {
    check::group = "writers agree";
    std::mt19937_64 rng(7);
    std::vector<std::uint8_t> chosen(kFeaturesBytes + 1), portable(kFeaturesBytes + 1);
    std::vector<float> floats(kFeaturesBytes);
    long positions = 0, differing = 0, in_check = 0, with_hands = 0;
    for (int round = 0; round < 60; ++round) {
        Game game;
        for (int ply = 0; ply < 300; ++ply) {
            const Board& board = game.board();
            // A guard byte after the planes: neither writer may go past them.
            chosen.back() = portable.back() = 0xa5;
            write_features_bytes(board, game.turn(), chosen.data());
            write_features_bytes_portable(board, game.turn(), portable.data());
            write_features(board, game.turn(), floats.data(), floats.data() + kFeatures1Floats);
            const long wide_at = first_difference(chosen.data(), portable.data());
            const long float_at = first_difference(chosen.data(), floats.data());
            if (wide_at >= 0 || float_at >= 0 || chosen.back() != 0xa5 || portable.back() != 0xa5) {
                if (differing++ < 3) std::printf("  %s: bytes differ at %ld, floats at %ld\n", game.sfen().c_str(), wide_at, float_at);
            }
            ++positions;
            in_check += chosen[(kFeatures1 + kFeatures2 - 1) * kPlaneSquares] == 1;
            with_hands += chosen[kFeatures1Floats] == 1 || chosen[kFeatures1Floats + 28 * kPlaneSquares] == 1;
            MoveList moves;
            legal_moves(board, game.turn(), moves);
            if (!moves.size()) break;
            game.push_legal(moves[static_cast<std::size_t>(rng() % moves.size())]);
        }
    }
    CHECK_EQ(differing, 0L);
    // The positions cover checks and pieces in hand of both kinds of view.
    CHECK(positions > 5000);
    CHECK(in_check > 100);
    CHECK(with_hands > 1000);
}

}  // namespace

int main() {
    test_writers_agree_on_random_games();
    return check::finish();
}

// Self-checking tests of the copies for processors with AVX-512 byte permutes (where this one
// has them; elsewhere the portable code is checked against itself): the feature planes as
// bytes must agree with the portable writer and the float planes on every byte of positions
// from random games, both sides to move, hands full and empty; the label picked from a legal
// mask must be the portable scan's for every rank among the set labels of masks sparse and
// dense, set at either end. Exits non-zero when a check fails.
#include <cstdint>
#include <cstdio>
#include <random>
#include <vector>

#include "velkorant/features.hpp"
#include "velkorant/game.hpp"
#include "velkorant/legal.hpp"
#include "velkorant/vecenv.hpp"

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

void test_labels_chosen_alike() {
    check::group = "labels chosen alike";
    std::mt19937_64 rng(11);
    // Rows of masks: how many labels are set at random, and labels set besides.
    struct Row {
        int random;
        std::vector<int> labels;
    };
    const Row rows[] = {
        {0, {0}}, {0, {kMoveLabels - 1}}, {0, {0, kMoveLabels - 1}}, {0, {63, 64, 2175, 2176}},
        {5, {}}, {80, {}}, {600, {}}, {kMoveLabels, {}},
    };
    long differing = 0, tried = 0;
    for (const Row& row : rows) {
        std::vector<char> mask(kMoveLabels, 0);
        for (int k = 0; k < row.random; ++k) mask[rng() % kMoveLabels] = 1;
        for (const int label : row.labels) mask[static_cast<std::size_t>(label)] = 1;
        std::vector<int> set;
        for (int label = 0; label < static_cast<int>(kMoveLabels); ++label)
            if (mask[static_cast<std::size_t>(label)]) set.push_back(label);
        // Every rank among the set labels, picked by a uniform in the middle of its share, and
        // the uniforms at both ends.
        std::vector<double> uniforms = {0.0, 0.9999999999};
        for (std::size_t k = 0; k < set.size(); ++k) uniforms.push_back((static_cast<double>(k) + 0.5) / static_cast<double>(set.size()));
        std::vector<char> masks;
        for (std::size_t i = 0; i < uniforms.size(); ++i) masks.insert(masks.end(), mask.begin(), mask.end());
        std::vector<std::int64_t> chosen(uniforms.size()), portable(uniforms.size());
        const bool* const rows_of = reinterpret_cast<const bool*>(masks.data());
        choose_labels(rows_of, uniforms.size(), uniforms.data(), chosen.data());
        choose_labels_portable(rows_of, uniforms.size(), uniforms.data(), portable.data());
        for (std::size_t i = 0; i < uniforms.size(); ++i, ++tried) {
            const std::int64_t expected = i < 2 ? (i == 0 ? set.front() : set.back()) : set[i - 2];
            if (chosen[i] != expected || portable[i] != expected) {
                if (differing++ < 3) std::printf("  uniform %g: %lld and %lld, not %lld\n", uniforms[i], static_cast<long long>(chosen[i]),
                                                  static_cast<long long>(portable[i]), static_cast<long long>(expected));
            }
        }
    }
    CHECK_EQ(differing, 0L);
    CHECK(tried > 2000);
    // A row with no label set: the lowest such row named.
    std::vector<char> masks(3 * kMoveLabels, 0);
    masks[5] = 1;
    const double uniforms[3] = {0.5, 0.5, 0.5};
    std::int64_t out[3];
    const bool* const rows_of = reinterpret_cast<const bool*>(masks.data());
    CHECK_FAILS(choose_labels(rows_of, 3, uniforms, out), "ValueError: row 1 has no legal move");
    CHECK_FAILS(choose_labels_portable(rows_of, 3, uniforms, out), "ValueError: row 1 has no legal move");
}

}  // namespace

int main() {
    test_writers_agree_on_random_games();
    test_labels_chosen_alike();
    return check::finish();
}

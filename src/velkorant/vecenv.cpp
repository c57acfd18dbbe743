#include "velkorant/vecenv.hpp"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <limits>
#include <string>

#include "velkorant/cloned.hpp"
#include "velkorant/features.hpp"
#include "velkorant/legal.hpp"
#include "velkorant/parallel.hpp"

namespace velkorant {
namespace {

// Games a thread takes at a time (a step of one game is a few microseconds), and the fewest a
// thread more is woken for: on two cores a second thread stepped 64 games slower than one
// (680,000 against 850,000 game-steps/s), 80 and 96 about as fast, 112 faster (900,000
// against 750,000).
constexpr std::size_t kChunk = 16;
constexpr std::size_t kGamesPerThread = 96;

// The rank among a row's `count` set labels that uniform picks; none set is a ValueError naming
// row i.
std::size_t rank_of(double uniform, std::size_t count, std::size_t i) {
    if (!count) throw ValueError("row " + std::to_string(i) + " has no legal move");
    return std::min(static_cast<std::size_t>(uniform * static_cast<double>(count)), count - 1);
}

// The label of row `i` of `masks` chosen by uniforms[i] (as choose_labels): a word a time.
std::int64_t choose_label(const bool* row, double uniform, std::size_t i) {
    // A bool is one byte, 0 or 1: eight of them read as a word, times 0x0101...01, have their
    // sum in the top byte.
    constexpr std::size_t kWords = kMoveLabels / 8, kTail = kMoveLabels % 8;
    static_assert(kTail < 8);
    const auto word_at = [](const bool* p) {
        std::uint64_t word;
        std::memcpy(&word, p, 8);
        return word;
    };
    const auto ones_at = [&](const bool* p) { return static_cast<std::size_t>((word_at(p) * 0x0101010101010101ull) >> 56); };
    std::size_t count = static_cast<std::size_t>(std::count(row + 8 * kWords, row + kMoveLabels, true));
    // Words added as they are keep a count a byte, which holds up to 255 words.
    for (std::size_t first = 0; first < kWords; first += 255) {
        std::uint64_t lanes = 0;
        for (std::size_t w = first; w < std::min(first + 255, kWords); ++w) lanes += word_at(row + 8 * w);
        const std::uint64_t pairs = (lanes & 0x00ff00ff00ff00ffull) + (lanes >> 8 & 0x00ff00ff00ff00ffull);
        count += static_cast<std::size_t>((pairs * 0x0001000100010001ull) >> 48);
    }
    std::size_t k = rank_of(uniform, count, i);
    std::size_t label = 0;
    for (std::size_t w = 0; w < kWords; ++w, label += 8) {
        const std::size_t ones = ones_at(row + label);
        if (k < ones) break;
        k -= ones;
    }
    for (;; ++label) {
        if (row[label] && k-- == 0) break;
    }
    return static_cast<std::int64_t>(label);
}

#if VELKORANT_WIDE_BYTES
// The same, 64 bools a time: each block's set bools as the bits of a word.
VELKORANT_WIDE_BYTES_TARGET std::int64_t choose_label_wide(const bool* row, double uniform, std::size_t i) {
    constexpr std::size_t kBlocks = (kMoveLabels + 63) / 64;
    std::uint64_t blocks[kBlocks];
    std::size_t count = 0;
    for (std::size_t b = 0; b < kBlocks; ++b) {
        const std::size_t left = kMoveLabels - 64 * b;
        const std::uint64_t in_row = left >= 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << left) - 1;
        const __m512i bytes = _mm512_maskz_loadu_epi8(in_row, row + 64 * b);
        blocks[b] = _mm512_test_epi8_mask(bytes, bytes);
        count += static_cast<std::size_t>(_mm_popcnt_u64(blocks[b]));
    }
    std::size_t k = rank_of(uniform, count, i);
    std::size_t b = 0;
    for (;; ++b) {
        const auto ones = static_cast<std::size_t>(_mm_popcnt_u64(blocks[b]));
        if (k < ones) break;
        k -= ones;
    }
    // The k-th set bit of the block: a one deposited on it.
    return static_cast<std::int64_t>(64 * b + _tzcnt_u64(_pdep_u64(std::uint64_t{1} << k, blocks[b])));
}
#endif

}  // namespace

void choose_labels(const bool* masks, std::size_t rows, const double* uniforms, std::int64_t* out) {
#if VELKORANT_WIDE_BYTES
    if (wide_bytes()) {
        for (std::size_t i = 0; i < rows; ++i) out[i] = choose_label_wide(masks + i * kMoveLabels, uniforms[i], i);
        return;
    }
#endif
    choose_labels_portable(masks, rows, uniforms, out);
}

void choose_labels_portable(const bool* masks, std::size_t rows, const double* uniforms, std::int64_t* out) {
    for (std::size_t i = 0; i < rows; ++i) out[i] = choose_label(masks + i * kMoveLabels, uniforms[i], i);
}

VecEnv::VecEnv(std::size_t count, EnvOptions options) : options_(options) {
    if (options.max_plies < 1) throw ValueError("max_plies is 1 or more, not " + std::to_string(options.max_plies));
    slots_.resize(count, Slot{initial_, initial_.ply(), {}, {}});
}

const char* VecEnv::ended(const Game& game) const {
    if (game.outcome()) return "the game has ended";
    if (options_.declaration && game.can_declare()) return "the side to move can declare a win";
    return nullptr;
}

void VecEnv::observe(Slot& slot, Observations out, std::size_t i) const {
    MoveList moves;
    legal_moves(slot.game.board(), slot.game.turn(), moves);
    observe(slot, moves, out, i);
}

void VecEnv::observe(Slot& slot, const MoveList& moves, Observations out, std::size_t i) const {
    const Game& game = slot.game;
    const Color turn = game.turn();
    write_features_bytes(game.board(), turn, out.features + i * kFeaturesBytes);
    slot.labels.resize(moves.size());
    slot.moves.resize(moves.size());
    bool* const mask = out.legal_mask + i * kMoveLabels;
    std::fill_n(mask, kMoveLabels, false);
    legal_move_labels(moves, turn, slot.labels.data());
    std::copy(moves.data(), moves.data() + moves.size(), slot.moves.data());
    for (const std::uint16_t label : slot.labels) mask[label] = true;
    out.turn[i] = turn == Color::White ? 1 : 0;
}

template <class Each>
void VecEnv::for_games(unsigned threads, Checkpoint& checkpoint, Each&& each) {
    const std::size_t wanted = std::min<std::size_t>(thread_count(threads), (slots_.size() - 1) / kGamesPerThread + 1);
    if (wanted <= 1) {
        parallel_for(slots_.size(), 1, checkpoint, each, kChunk);
        return;
    }
    if (!crew_ || crew_->helpers() != wanted - 1) crew_ = std::make_unique<Crew>(static_cast<unsigned>(wanted - 1));
    crew_->run(slots_.size(), kChunk, checkpoint, each);
}

void VecEnv::set_game(std::size_t i, Game game, Observations out) {
    if (i >= slots_.size())
        throw IndexError("game " + std::to_string(i) + " out of range for " + std::to_string(slots_.size()) + " games");
    if (const char* why = ended(game)) throw ValueError(std::string("cannot step game ") + std::to_string(i) + ": " + why);
    if (game.ply() > std::numeric_limits<std::int64_t>::max() - options_.max_plies)
        throw ValueError("cannot step game " + std::to_string(i) + ": its move number " + std::to_string(game.ply()) +
                         " cannot grow by max_plies");
    Slot& slot = slots_[i];
    slot.first_ply = game.ply() - static_cast<std::int64_t>(game.history().size());
    slot.game = std::move(game);
    observe(slot, out, i);
}

void VecEnv::reset(Observations out, unsigned threads, Checkpoint& checkpoint) {
    for_games(threads, checkpoint, [&](std::size_t begin, std::size_t end) {
        for (std::size_t i = begin; i < end; ++i) {
            slots_[i].game = initial_;
            slots_[i].first_ply = initial_.ply();
            observe(slots_[i], out, i);
        }
    });
}

std::size_t VecEnv::step(std::span<const std::int64_t> actions, Observations out, const StepResults& results, unsigned threads,
                  Checkpoint& checkpoint) {
    if (actions.size() != slots_.size())
        throw ValueError(std::to_string(actions.size()) + " actions for " + std::to_string(slots_.size()) +
                         " games: one action a game");
    // Every label is checked before any game moves.
    std::vector<std::uint16_t> chosen(slots_.size());
    for (std::size_t i = 0; i < slots_.size(); ++i) {
        const std::int64_t label = actions[i];
        if (label < 0 || label >= static_cast<std::int64_t>(kMoveLabels))
            throw ValueError("game " + std::to_string(i) + ": " + std::to_string(label) + " is no move label (0 to " +
                             std::to_string(kMoveLabels - 1) + ")");
        const std::vector<std::uint16_t>& labels = slots_[i].labels;
        const auto found = std::find(labels.begin(), labels.end(), static_cast<std::uint16_t>(label));
        if (found == labels.end())
            throw ValueError("game " + std::to_string(i) + ": label " + std::to_string(label) +
                             " is not the label of a legal move");
        chosen[i] = slots_[i].moves[static_cast<std::size_t>(found - labels.begin())];
    }
    std::atomic<std::size_t> ended{0};
    for_games(threads, checkpoint, [&](std::size_t begin, std::size_t end) {
        MoveList moves;
        std::size_t ended_here = 0;
        for (std::size_t i = begin; i < end; ++i) {
            Slot& slot = slots_[i];
            const Color mover = slot.game.turn();
            slot.game.push_legal(Move{chosen[i]});
            moves.clear();
            legal_moves(slot.game.board(), slot.game.turn(), moves);
            float reward = 0.0f;
            bool terminated = false, truncated = false;
            if (const std::optional<Outcome> outcome = moves.size() ? slot.game.repetition_outcome() : slot.game.outcome()) {
                terminated = true;
                reward = outcome->winner == mover ? 1.0f : outcome->winner == Color::None ? 0.0f : -1.0f;
            } else if (options_.declaration && slot.game.can_declare()) {
                terminated = true;
                reward = -1.0f;
            } else if (slot.game.ply() - slot.first_ply >= options_.max_plies) {
                truncated = true;
            }
            results.rewards[i] = reward;
            results.terminated[i] = terminated;
            results.truncated[i] = truncated;
            if (terminated || truncated) {
                ++ended_here;
                observe(slot, moves, results.final, i);
                slot.game = initial_;
                slot.first_ply = initial_.ply();
                observe(slot, out, i);
            } else {
                observe(slot, moves, out, i);
            }
        }
        ended += ended_here;
    });
    return ended;
}

}  // namespace velkorant

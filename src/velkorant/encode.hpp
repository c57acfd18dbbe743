// Training examples straight from text: a position as SFEN and the move played there as USI
// become, in one pass over the position, its 32-byte packing, both plane sets a network reads
// and the label of the move (see packed.hpp and features.hpp for each). The position is read
// once and never rebuilt from the bytes just written.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "velkorant/checkpoint.hpp"
#include "velkorant/features.hpp"
#include "velkorant/packed.hpp"

namespace velkorant {

// Where the examples go: example i at packed + 32 * i, planes1 + i * kFeatures1Floats,
// planes2 + i * kFeatures2Floats and labels[i].
struct ExampleOutputs {
    std::uint8_t* packed;
    float* planes1;
    float* planes2;
    std::int64_t* labels;
};

// Example i of sfens[i] and moves[i], for every i, on up to `threads` threads (0: every core).
// A malformed SFEN or a position with no packing is a ValueError "sfen <i>: ...", a move that
// is malformed or not legal there "move <i>: ..."; the lowest such i is the one named, whatever
// the number of threads, and the outputs are then partly written.
void encode_examples(std::span<const std::string_view> sfens, std::span<const std::string_view> moves,
                     Packing packing, const ExampleOutputs& out, unsigned threads, Checkpoint& checkpoint);

}  // namespace velkorant

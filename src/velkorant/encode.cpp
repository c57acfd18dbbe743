#include "velkorant/encode.hpp"

#include <cstring>
#include <string>

#include "velkorant/errors.hpp"
#include "velkorant/game.hpp"
#include "velkorant/legal.hpp"
#include "velkorant/parallel.hpp"

namespace velkorant {
namespace {

[[noreturn]] void fail(const char* what, std::size_t i, const std::string& why) {
    throw ValueError(std::string(what) + " " + std::to_string(i) + ": " + why);
}

void encode_example(std::string_view sfen, std::string_view usi, std::size_t i, Packing packing,
                    const ExampleOutputs& out) {
    Position position;
    PackedPosition packed;
    try {
        position = position_of_sfen(sfen);
        packed = pack(position.board, position.turn, packing);
    } catch (const ValueError& e) {
        fail("sfen", i, e.message());
    }
    Move move;
    try {
        move = Move::from_usi(usi, position.turn);
    } catch (const ValueError& e) {
        fail("move", i, e.message());
    }
    if (!is_legal(position.board, position.turn, move))
        fail("move", i, move.to_string() + " is not a legal move of the side to move");
    std::memcpy(out.packed + 32 * i, packed.data(), packed.size());
    write_features(position.board, position.turn, out.planes1 + i * kFeatures1Floats, out.planes2 + i * kFeatures2Floats);
    out.labels[i] = move_label(move, position.turn);
}

}  // namespace

void encode_examples(std::span<const std::string_view> sfens, std::span<const std::string_view> moves,
                     Packing packing, const ExampleOutputs& out, unsigned threads, Checkpoint& checkpoint) {
    if (moves.size() != sfens.size())
        throw ValueError(std::to_string(moves.size()) + " moves for " + std::to_string(sfens.size()) +
                         " positions: one move a position");
    parallel_for(sfens.size(), threads, checkpoint, [&](std::size_t begin, std::size_t end) {
        for (std::size_t i = begin; i < end; ++i) encode_example(sfens[i], moves[i], i, packing, out);
    });
}

}  // namespace velkorant

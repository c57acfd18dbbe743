// Game: the full rules of shogi over a board: side to move, history with undo, legal moves,
// check, mate, repetition, SFEN and USI.
#include "python/types.hpp"
#include "velkorant/game.hpp"
#include "velkorant/packed.hpp"
#include "velkorant/playout.hpp"
#include "velkorant/svg.hpp"

namespace velkorant::python {

// An ended game reads as (winner, reason), the winner ColorType(255) for a draw.
template <>
struct Caster<Outcome> {
    static PyObject* cast(const Outcome& o) { return tuple_of(o.winner, o.reason); }
};

namespace {

Game make_game(std::optional<std::string_view> sfen) { return sfen ? Game(*sfen) : Game(); }

Bytes game_state(const Game& g) { return {g.state()}; }
void set_game_state(Game& g, BytesView state) { g = Game::from_state(state.data); }

std::string game_svg(const Game& g) {
    SvgMarks marks{g.turn()};
    if (const std::optional<Move> last = g.last_move()) marks.has_last = true, marks.last = *last;
    return to_svg(g.board(), marks);
}

Bytes packed_bytes(const Game& g, Packing packing) {
    const PackedPosition p = pack(g, packing);
    return {std::string(p.begin(), p.end())};
}
Game game_of_packed(BytesView data, std::int64_t ply, Packing packing) {
    if (data.data.size() != std::tuple_size_v<PackedPosition>)
        throw ValueError(std::string(packing == Packing::Hcp ? "an hcp" : "a psfen") + " is 32 bytes, not " +
                         std::to_string(data.data.size()));
    return unpack(reinterpret_cast<const std::uint8_t*>(data.data.data()), packing, ply);
}
Bytes to_hcp(const Game& g) { return packed_bytes(g, Packing::Hcp); }
Bytes to_psfen(const Game& g) { return packed_bytes(g, Packing::Psfen); }
Game from_hcp(BytesView data, std::int64_t ply) { return game_of_packed(data, ply, Packing::Hcp); }
Game from_psfen(BytesView data, std::int64_t ply) { return game_of_packed(data, ply, Packing::Psfen); }

}  // namespace

template <>
PyTypeObject* create_type_of<Game>() {
    using New = Constructor<&make_game, "sfen=None">;
    static PyMethodDef methods[] = {
        static_method<"from_board", &Game::from_board, "board", "turn", "ply=1">(),
        static_method<"from_usi", &Game::from_usi, "position">(),
        static_method<"from_hcp", &from_hcp, "data", "ply=1">(),
        static_method<"from_psfen", &from_psfen, "data", "ply=1">(),
        method<"sfen", &Game::sfen>(),
        method<"to_hcp", &to_hcp>(),
        method<"to_psfen", &to_psfen>(),
        method<"usi", &Game::usi>(),
        method<"legal_moves", static_cast<MoveList (Game::*)() const>(&Game::legal_moves)>(),
        method<"is_legal", &Game::is_legal, "move">(),
        method<"check_moves", &Game::check_moves>(),
        method<"mate_in_one", &Game::mate_in_one>(),
        method<"push", &Game::push, "move">(),
        method<"push_usi", &Game::push_usi, "usi">(),
        method<"pop", &Game::pop>(),
        method<"is_check", &Game::is_check>(),
        method<"outcome", &Game::outcome>(),
        method<"repetition_count", &Game::repetition_count>(),
        method<"can_declare", &Game::can_declare>(),
        method<"play_random", &play_random, "rng_seed", "max_plies=512">(),
        method<"perft", static_cast<std::uint64_t (Game::*)(int, Checkpoint&) const>(&Game::perft), "depth">(),
        method<"to_svg", &game_svg>(),
        method<"_repr_svg_", &game_svg>(),
        method<"copy", &copy_of<Game>>(),
        reduce_method<&no_arguments<Game>, &game_state>(),
        method<"__setstate__", &set_game_state, "state">(),
        copy_method<Game>(),
        deepcopy_method<Game>(),
        {},
    };
    static PyGetSetDef getset[] = {
        getter<"turn", &Game::turn>(),
        getter<"ply", &Game::ply>(),
        getter<"board", &Game::board>(),
        getter<"history", &Game::history>(),
        {},
    };
    // Unlike the other classes, whose documentation is their constructor's signature alone, a game
    // documents itself.
    using Doc = MethodDoc<Game, "", TextSignature<"Game", false, "sfen=None">>;
    return create_class<Game>({&New::tp_new, Doc::value, &repr<&Game::sfen>, methods, getset});
}

}  // namespace velkorant::python

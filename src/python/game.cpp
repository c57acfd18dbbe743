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

// A move with the number of the position it was listed for (0 for none): as a result, a Move
// object carrying the number; as an argument, a Move object and the number it carries, kept
// only while its word is still the one it was listed with.
struct ListedMove {
    Move move;
    std::uint64_t listed_for = 0;
};
// Moves listed for one position.
struct ListedMoves {
    MoveList moves;
    std::uint64_t listed_for = 0;
};

inline PyObject* listed_move_object(std::uint16_t word, std::uint64_t listed_for) {
    PyObject* obj = make_object<Move>(Move{word});
    if (obj) {
        auto* o = as_object<Move>(obj);
        o->listed_word = word;
        o->listed_for = listed_for;
    }
    return obj;
}

template <>
struct Caster<ListedMove> {
    static constexpr const char* name = ClassOf<Move>::name;
    ListedMove value;
    bool load(PyObject* obj) {
        if (!is_instance<Move>(obj)) return raise_cannot_convert(obj, name);
        const Object<Move>* o = as_object<Move>(obj);
        if (!Borrow(as_object<Move>(obj)->flag, Access::shared)) return false;
        value.move = o->value;
        value.listed_for = o->listed_word == o->value.word ? o->listed_for : 0;
        return true;
    }
    ListedMove get() const { return value; }
    static PyObject* cast(const ListedMove& m) { return listed_move_object(m.move.word, m.listed_for); }
};

template <>
struct Caster<ListedMoves> {
    static PyObject* cast(const ListedMoves& listed) {
        const Py_ssize_t n = static_cast<Py_ssize_t>(listed.moves.size());
        Ref list(PyList_New(n));
        if (!list) return nullptr;
        const std::uint16_t* words = listed.moves.data();
        const std::uint64_t listed_for = listed.listed_for;
        const bool made = make_objects<Move>(PySequence_Fast_ITEMS(list.get()), static_cast<std::size_t>(n),
                                             [words, listed_for](Object<Move>* o, std::size_t i) {
                                                 ::new (&o->value) Move{words[i]};
                                                 o->listed_word = words[i];
                                                 o->listed_for = listed_for;
                                             });
        return made ? list.release() : nullptr;
    }
};

namespace {

ListedMoves legal_moves(const Game& g) {
    ListedMoves out;  // not out{}: that would zero the whole inline buffer of the list
    g.legal_moves(out.moves);
    out.listed_for = g.stamp();
    return out;
}
ListedMoves check_moves(const Game& g) {
    ListedMoves out;  // filled in place, as legal_moves
    g.check_moves(out.moves);
    out.listed_for = g.stamp();
    return out;
}
std::optional<ListedMove> mate_in_one(const Game& g) {
    const std::optional<Move> mate = g.mate_in_one();
    if (!mate) return std::nullopt;
    return ListedMove{*mate, g.stamp()};
}
void push(Game& g, ListedMove move) { g.push(move.move, move.listed_for); }

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
        method<"legal_moves", &legal_moves>(),
        method<"is_legal", &Game::is_legal, "move">(),
        method<"check_moves", &check_moves>(),
        method<"mate_in_one", &mate_in_one>(),
        method<"push", &push, "move">(),
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

// Game: the full rules of shogi over a board: side to move, history with undo, legal moves,
// check, mate, repetition, SFEN and USI.
#include "python/types.hpp"
#include "velkorant/game.hpp"
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

}  // namespace

template <>
PyTypeObject* create_type_of<Game>() {
    using New = Constructor<&make_game, "sfen=None">;
    static PyMethodDef methods[] = {
        static_method<"from_board", &Game::from_board, "board", "turn", "ply=1">(
            "A game from the squares and hand of `board`, `turn` to move, `ply` the number of the\n"
            "next move. ValueError names the square of a board that is no real position."),
        static_method<"from_usi", &Game::from_usi, "position">(
            "A game from the argument of a USI position command: \"startpos moves 7g7f ...\" or\n"
            "\"sfen <sfen> moves ...\". ValueError names the first illegal move and its index."),
        method<"sfen", &Game::sfen>("The position in SFEN."),
        method<"usi", &Game::usi>("The USI position argument that reproduces the game for an engine."),
        method<"legal_moves", static_cast<MoveList (Game::*)() const>(&Game::legal_moves)>(
            "A new list of the legal moves of the side to move, in search_moves order."),
        method<"is_legal", &Game::is_legal, "move">("Whether `move` is a legal move of the side to move."),
        method<"push", &Game::push, "move">(
            "Plays a legal move; an illegal one raises ValueError and changes nothing."),
        method<"push_usi", &Game::push_usi, "usi">("Plays a move given in USI text and returns it."),
        method<"pop", &Game::pop>("Takes back the last move and returns it; IndexError when there is none."),
        method<"is_check", &Game::is_check>("Whether the side to move's king is attacked."),
        method<"outcome", &Game::outcome>(
            "None while the game goes on, else (winner, reason): reason \"checkmate\",\n"
            "\"no_legal_moves\", \"repetition\" (a draw: the winner is ColorType(255)) or\n"
            "\"perpetual_check\"."),
        method<"repetition_count", &Game::repetition_count>(
            "How often the current position has occurred in this game, this time included."),
        method<"can_declare", &Game::can_declare>(
            "Whether the side to move may declare a win by entering king (27-point rule)."),
        method<"perft", static_cast<std::uint64_t (Game::*)(int, Checkpoint&) const>(&Game::perft), "depth">("The number of legal move sequences of `depth` plies."),
        method<"to_svg", &game_svg>("A picture of the position as an SVG document, the last move marked."),
        method<"_repr_svg_", &game_svg>(),
        method<"copy", &copy_of<Game>>("An independent copy, history included."),
        reduce_method<&no_arguments<Game>, &game_state>(),
        method<"__setstate__", &set_game_state, "state">(),
        copy_method<Game>(),
        deepcopy_method<Game>(),
        {},
    };
    static PyGetSetDef getset[] = {
        getter<"turn", &Game::turn>("The side to move."),
        getter<"ply", &Game::ply>("The number of the next move (SFEN's last field)."),
        getter<"board", &Game::board>("A new Board holding a copy of the position."),
        getter<"history", &Game::history>("A new list of the moves pushed since creation, oldest first."),
        {},
    };
    return create_class<Game>({&New::tp_new, New::doc, &repr<&Game::sfen>, methods, getset});
}

}  // namespace velkorant::python

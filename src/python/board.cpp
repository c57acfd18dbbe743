// Board: the position and the rules that read and change it.
#include "python/types.hpp"
#include "velkorant/svg.hpp"

namespace velkorant::python {
namespace {

// The hot path of every playout: the list is generated into storage of this call's own, so
// whatever Python code runs while the result list is built (an allocation can start the
// garbage collector, whose finalizers may generate moves on another board) cannot touch it.
PyObject* search(const Board& b, Color color) {
    MoveList moves;
    search_moves(b, color, moves);
    return to_python(moves);
}

// Pickles as Board() followed by its state: every set and the whole hand, in a few hundred
// bytes with a format version.
Bytes board_state(const Board& b) { return {b.state()}; }
void set_board_state(Board& b, BytesView state) { b = Board::from_state(state.data); }

std::string board_svg(const Board& b) { return to_svg(b); }

}  // namespace

template <>
PyTypeObject* create_type_of<Board>() {
    using New = Constructor<&make<Board>>;
    static PyMethodDef methods[] = {
        method<"deploy", &Board::deploy, "index", "piece_type", "color">(),
        method<"startpos", &Board::startpos>(),
        method<"get_piece", &Board::get_piece, "address">(),
        method<"search_moves", &search, "color">(),
        method<"execute_move", &execute_move, "moves">(),
        method<"is_finished", &is_finished>(),
        method<"remove", &Board::remove, "index">(),
        method<"copy", &copy_of<Board>>(),
        method<"to_svg", &board_svg>(),
        method<"_repr_svg_", &board_svg>(),
        reduce_method<&no_arguments<Board>, &board_state>(),
        method<"__setstate__", &set_board_state, "state">(),
        copy_method<Board>(),
        deepcopy_method<Board>(),
        {},
    };
    static PyGetSetDef getset[] = {
        attribute<"hand", &Board::hand>(),
        {},
    };
    return create_class<Board>({&New::tp_new, New::doc, &repr<&Board::placement>, methods, getset});
}

}  // namespace velkorant::python

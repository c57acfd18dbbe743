// Board: the position and the rules that read and change it.
#include "python/types.hpp"

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
        copy_method<Board>(),
        deepcopy_method<Board>(),
        {},
    };
    return create_class<Board>({&New::tp_new, New::doc, &repr<&Board::placement>, methods});
}

}  // namespace velkorant::python

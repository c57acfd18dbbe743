// Board: the position and the rules that read and change it.
#include <string>
#include <utility>

#include "python/frame.hpp"

namespace velkorant::python {
namespace {

Board make_board() { return Board(); }
std::string board_repr(const Board& b) { return b.placement(); }
void deploy(Board& b, std::uint8_t index, Kind piece_type, Color color) { b.deploy(index, piece_type, color); }
void startpos(Board& b) { b.startpos(); }
Piece get_piece(const Board& b, const Address& address) { return b.get_piece(address); }
void execute(Board& b, const Move& move) { execute_move(b, move); }
std::pair<bool, Color> finished(const Board& b) { return is_finished(b); }

// The hot path of every playout: generate into a buffer that is reused across calls, then
// build the list of Move objects directly.
PyObject* search(const Board& b, Color color) {
    static MoveList moves;
    search_moves(b, color, moves);
    const Py_ssize_t n = static_cast<Py_ssize_t>(moves.size());
    PyObject* list = PyList_New(n);
    if (!list) return nullptr;
    for (Py_ssize_t i = 0; i < n; ++i) {
        PyObject* move = make_object<Move>(moves[static_cast<std::size_t>(i)]);
        if (!move) {
            Py_DECREF(list);
            return nullptr;
        }
        PyList_SET_ITEM(list, i, move);
    }
    return list;
}

constexpr Params<0> kNew{"__new__", {}};
constexpr Params<3> kDeploy{"deploy", {"index", "piece_type", "color"}};
constexpr Params<1> kGetPiece{"get_piece", {"address"}};
constexpr Params<1> kSearchMoves{"search_moves", {"color"}};
constexpr Params<1> kExecuteMove{"execute_move", {"moves"}};

constexpr int kFast = METH_FASTCALL | METH_KEYWORDS;
PyMethodDef methods[] = {
    {"deploy", as_cfunction(fastcall<&deploy, Access::exclusive, kDeploy>), kFast,
     "deploy($self, index, piece_type, color)\n--\n\n"},
    {"startpos", noargs<&startpos, Access::exclusive>, METH_NOARGS, "startpos($self)\n--\n\n"},
    {"get_piece", as_cfunction(fastcall<&get_piece, Access::shared, kGetPiece>), kFast,
     "get_piece($self, address)\n--\n\n"},
    {"search_moves", as_cfunction(fastcall<&search, Access::shared, kSearchMoves>), kFast,
     "search_moves($self, color)\n--\n\n"},
    {"execute_move", as_cfunction(fastcall<&execute, Access::exclusive, kExecuteMove>), kFast,
     "execute_move($self, moves)\n--\n\n"},
    {"is_finished", noargs<&finished, Access::shared>, METH_NOARGS, "is_finished($self)\n--\n\n"},
    {"__copy__", copy<Board>, METH_NOARGS, "__copy__($self)\n--\n\nAn independent copy of the board."},
    {"__deepcopy__", copy<Board>, METH_O, "__deepcopy__($self, memo, /)\n--\n\nAn independent copy of the board."},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace

PyTypeObject* create_board_type() {
    return create_class<Board>({&constructor<&make_board, kNew>, &repr<&board_repr>, "Board()\n--\n\n", methods});
}

}  // namespace velkorant::python

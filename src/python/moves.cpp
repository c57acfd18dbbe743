// Move: one packed move word, built from move text, read through five methods.
#include <string>

#include "python/frame.hpp"

namespace velkorant::python {
namespace {

Move make_move(std::string_view csa) { return Move::parse(csa); }
std::string move_repr(const Move& m) { return m.to_string(); }
bool is_drop(const Move& m) { return m.is_drop(); }
bool is_promote(const Move& m) { return m.is_promote(); }
Address get_from(const Move& m) { return m.get_from(); }
Address get_to(const Move& m) { return m.get_to(); }
Piece get_piece(const Move& m) { return m.get_piece(); }

constexpr Params<1> kNew{"__new__", {"csa"}};

PyMethodDef methods[] = {
    {"is_drop", noargs<&is_drop, Access::shared>, METH_NOARGS, "is_drop($self)\n--\n\n"},
    {"is_promote", noargs<&is_promote, Access::shared>, METH_NOARGS, "is_promote($self)\n--\n\n"},
    {"get_from", noargs<&get_from, Access::shared>, METH_NOARGS, "get_from($self)\n--\n\n"},
    {"get_to", noargs<&get_to, Access::shared>, METH_NOARGS, "get_to($self)\n--\n\n"},
    {"get_piece", noargs<&get_piece, Access::shared>, METH_NOARGS, "get_piece($self)\n--\n\n"},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace

PyTypeObject* create_move_type() {
    return create_class<Move>({&constructor<&make_move, kNew>, &repr<&move_repr>, "Move(csa)\n--\n\n", methods});
}

}  // namespace velkorant::python

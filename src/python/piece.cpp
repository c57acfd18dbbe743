// Piece: an owner and a kind, both settable.
#include <string>

#include "python/frame.hpp"

namespace velkorant::python {
namespace {

Piece make_piece(Color owner, Kind piece_type) { return Piece{owner, piece_type}; }
std::string piece_repr(const Piece& p) { return p.to_string(); }

constexpr Params<2> kNew{"__new__", {"owner", "piece_type"}};
constexpr char kOwner[] = "owner";
constexpr char kPieceType[] = "piece_type";

PyGetSetDef getset[] = {
    Attribute<&Piece::owner, kOwner>::def(),
    Attribute<&Piece::piece_type, kPieceType>::def(),
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

}  // namespace

PyTypeObject* create_piece_type() {
    PyType_Slot slots[] = {
        dealloc_slot<Piece>(),
        {Py_tp_new, reinterpret_cast<void*>(&constructor<&make_piece, kNew>)},
        {Py_tp_repr, reinterpret_cast<void*>(&repr<&piece_repr>)},
        {Py_tp_getset, getset},
        {Py_tp_doc, const_cast<char*>("Piece(owner, piece_type)\n--\n\n")},
        {0, nullptr},
    };
    return ClassOf<Piece>::type = create_type("velkorant.Piece", sizeof(Object<Piece>), slots);
}

}  // namespace velkorant::python

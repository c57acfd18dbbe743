// Piece: an owner and a kind, both settable.
#include "python/types.hpp"

namespace velkorant::python {
namespace {

// Pickles as the constructor call that rebuilds it.
std::pair<Color, Kind> piece_args(const Piece& p) { return {p.owner, p.piece_type}; }

}  // namespace

template <>
PyTypeObject* create_type_of<Piece>() {
    using New = Constructor<&make<Piece, Color, Kind>, "owner", "piece_type">;
    static PyMethodDef methods[] = {
        reduce_method<&piece_args>(),
        copy_method<Piece>(),
        deepcopy_method<Piece>(),
        {},
    };
    static PyGetSetDef getset[] = {
        attribute<"owner", &Piece::owner>(),
        attribute<"piece_type", &Piece::piece_type>(),
        {},
    };
    return create_class<Piece>({&New::tp_new, New::doc, &repr<&Piece::to_string>, methods, getset});
}

}  // namespace velkorant::python

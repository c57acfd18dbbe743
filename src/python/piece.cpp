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
    return create_class<Piece>({&constructor<&make_piece, kNew>, &repr<&piece_repr>,
                                "Piece(owner, piece_type)\n--\n\n", nullptr, getset});
}

}  // namespace velkorant::python

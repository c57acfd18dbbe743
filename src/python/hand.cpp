// Hand: counts of captured pieces for both sides, with the slot's piece table.
#include <string>

#include "python/frame.hpp"

namespace velkorant::python {
namespace {

Hand make_hand() { return Hand(); }
std::string hand_repr(const Hand& h) { return h.debug(); }
void add_piece(Hand& h, Color color, Kind kind) { h.add_piece(color, kind); }
void add_pieces(Hand& h, Color color, Kind kind, std::uint8_t count) { h.add_pieces(color, kind, count); }
void decrease_piece(Hand& h, Color color, Kind kind) { h.decrease_piece(color, kind); }
PlayerPieces get_player_pieces(const Hand& h, Color color) { return h.get_player_pieces(color); }

constexpr Params<0> kNew{"__new__", {}};
constexpr Params<2> kAddPiece{"add_piece", {"color_type", "piece_type"}};
constexpr Params<3> kAddPieces{"add_pieces", {"color_type", "piece_type", "count"}};
constexpr Params<2> kDecreasePiece{"decrease_piece", {"color_type", "piece_type"}};
constexpr Params<1> kGetPlayerPieces{"get_player_pieces", {"color_type"}};
constexpr char kPieces[] = "pieces";
constexpr char kCounts[] = "counts";

PyGetSetDef getset[] = {
    Attribute<&Hand::pieces, kPieces>::def(),
    Attribute<&Hand::counts, kCounts>::def(),
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

constexpr int kFast = METH_FASTCALL | METH_KEYWORDS;
PyMethodDef methods[] = {
    {"add_piece", as_cfunction(fastcall<&add_piece, Access::exclusive, kAddPiece>), kFast,
     "add_piece($self, color_type, piece_type)\n--\n\n"},
    {"add_pieces", as_cfunction(fastcall<&add_pieces, Access::exclusive, kAddPieces>), kFast,
     "add_pieces($self, color_type, piece_type, count)\n--\n\n"},
    {"decrease_piece", as_cfunction(fastcall<&decrease_piece, Access::exclusive, kDecreasePiece>),
     kFast, "decrease_piece($self, color_type, piece_type)\n--\n\n"},
    {"get_player_pieces",
     as_cfunction(fastcall<&get_player_pieces, Access::shared, kGetPlayerPieces>), kFast,
     "get_player_pieces($self, color_type)\n--\n\n"},
    {"__copy__", copy<Hand>, METH_NOARGS, "__copy__($self)\n--\n\nAn independent copy of the hand."},
    {"__deepcopy__", copy<Hand>, METH_O, "__deepcopy__($self, memo, /)\n--\n\nAn independent copy of the hand."},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace

PyTypeObject* create_hand_type() {
    return create_class<Hand>({&constructor<&make_hand, kNew>, &repr<&hand_repr>, "Hand()\n--\n\n", methods, getset});
}

}  // namespace velkorant::python

// Hand: counts of captured pieces for both sides, with the slot's piece table.
#include "python/types.hpp"

namespace velkorant::python {
namespace {

using HandState = std::pair<std::array<Piece, kHandSlots>, std::array<std::uint8_t, kHandSlots>>;

// Pickles as Hand() followed by its two tables.
HandState hand_state(const Hand& h) { return {h.pieces, h.counts}; }
void set_hand_state(Hand& h, const HandState& state) { h.pieces = state.first, h.counts = state.second; }

}  // namespace

template <>
PyTypeObject* create_type_of<Hand>() {
    using New = Constructor<&make<Hand>>;
    static PyMethodDef methods[] = {
        method<"add_piece", &Hand::add_piece, "color_type", "piece_type">(),
        method<"add_pieces", &Hand::add_pieces, "color_type", "piece_type", "count">(),
        method<"decrease_piece", &Hand::decrease_piece, "color_type", "piece_type">(),
        method<"get_player_pieces", &Hand::get_player_pieces, "color_type">(),
        reduce_method<&no_arguments<Hand>, &hand_state>(),
        method<"__setstate__", &set_hand_state, "state">(),
        copy_method<Hand>(),
        deepcopy_method<Hand>(),
        {},
    };
    static PyGetSetDef getset[] = {
        attribute<"pieces", &Hand::pieces>(),
        attribute<"counts", &Hand::counts>(),
        {},
    };
    return create_class<Hand>({&New::tp_new, New::doc, &repr<&Hand::debug>, methods, getset});
}

}  // namespace velkorant::python

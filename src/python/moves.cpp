// Move: one packed move word, built from move text, read through five methods.
#include "python/types.hpp"

namespace velkorant::python {
namespace {

// Pickles as the constructor call on its text; a word that its text cannot rebuild exactly
// (a drop of a kind that has no letter, say) also carries the word itself as the state.
PyObject* move_reduce(const Move& m) {
    const std::string text = m.to_string();
    Ref args(tuple_of(std::string_view(text)));
    if (!args) return nullptr;
    PyObject* type = reinterpret_cast<PyObject*>(ClassOf<Move>::type);
    if (Move::parse(text).word == m.word) return PyTuple_Pack(2, type, args.get());
    Ref word(to_python(m.word));
    if (!word) return nullptr;
    return PyTuple_Pack(3, type, args.get(), word.get());
}

void set_word(Move& m, std::uint16_t word) { m.word = word; }

}  // namespace

template <>
PyTypeObject* create_type_of<Move>() {
    using New = Constructor<&Move::parse, "csa">;
    static PyMethodDef methods[] = {
        method<"is_drop", &Move::is_drop>(),
        method<"is_promote", &Move::is_promote>(),
        method<"get_from", &Move::get_from>(),
        method<"get_to", &Move::get_to>(),
        method<"get_piece", &Move::get_piece>(),
        method<"usi", &Move::usi>("The move in USI text: \"7g7f\", \"8h2b+\", \"P*5e\"."),
        static_method<"from_usi", &Move::from_usi, "usi", "color">(
            "The move of `color` that the USI text stands for."),
        method<"__reduce__", &move_reduce>(),
        method<"__setstate__", &set_word, "state">(),
        copy_method<Move>(),
        deepcopy_method<Move>(),
        {},
    };
    return create_class<Move>({&New::tp_new, New::doc, &repr<&Move::to_string>, methods});
}

}  // namespace velkorant::python

// Move: one packed move word, built from move text, read through five methods.
#include "python/types.hpp"

namespace velkorant::python {

// A move word as a pickle holds it: an int, and 0..65535 or a ValueError (a tampered pickle is a
// bad value, not an arithmetic failure).
struct MoveWord {
    std::uint16_t value = 0;
};
template <>
struct Caster<MoveWord> {
    static constexpr const char* name = "int";
    MoveWord value;
    bool load(PyObject* obj) {
        if (!PyLong_Check(obj)) return raise_cannot_convert(obj, name);
        int overflow = 0;
        const long long v = PyLong_AsLongLongAndOverflow(obj, &overflow);
        if (v == -1 && PyErr_Occurred()) return false;
        if (overflow || v < 0 || v > 0xffff) {
            PyErr_SetString(PyExc_ValueError, "a move word is an integer from 0 to 65535");
            return false;
        }
        value.value = static_cast<std::uint16_t>(v);
        return true;
    }
    MoveWord get() const { return value; }
};

namespace {

// Pickles as Move._from_word(word), which takes any 16-bit word and refuses anything else with
// TypeError or ValueError: a tampered pickle cannot reach the move text reader. (Pickles of the
// first release call the constructor on the move text, with the word as the state when the text
// cannot rebuild it; they still load.)
PyObject* move_reduce(const Move& m) {
    Ref factory(PyObject_GetAttrString(reinterpret_cast<PyObject*>(ClassOf<Move>::type), "_from_word"));
    if (!factory) return nullptr;
    Ref args(tuple_of(m.word));
    if (!args) return nullptr;
    return PyTuple_Pack(2, factory.get(), args.get());
}

Move move_from_word(MoveWord word) { return Move{word.value}; }

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
        method<"usi", &Move::usi>(),
        static_method<"from_usi", &Move::from_usi, "usi", "color">(),
        method<"__reduce__", &move_reduce>(),
        static_method<"_from_word", &move_from_word, "word">(),
        method<"__setstate__", &set_word, "state">(),
        copy_method<Move>(),
        deepcopy_method<Move>(),
        {},
    };
    return create_class<Move>({&New::tp_new, New::doc, &repr<&Move::to_string>, methods});
}

}  // namespace velkorant::python

// ColorType and PieceType: immutable numbered values with their members as class attributes.
#include <string>

#include "python/types.hpp"

namespace velkorant::python {
namespace {

// The number each class compares and converts with: ColorType's signed number (-1 for None),
// PieceType's kind number.
long long number_of(Color c) { return signed_number(c); }
long long number_of(Kind k) { return number(k); }

std::string color_repr(Color c) { return std::to_string(byte_of(c)); }
std::string kind_repr(Kind k) { return std::to_string(number(k)); }

// Pickles as the constructor call that rebuilds it: the byte the repr shows.
std::tuple<std::uint8_t> color_args(Color c) { return {byte_of(c)}; }
std::tuple<std::uint8_t> kind_args(Kind k) { return {number(k)}; }

template <class Record>
PyObject* as_int(PyObject* self) {
    return PyLong_FromLongLong(number_of(as_object<Record>(self)->value));
}

// == and != against the same class or any integer; everything else is NotImplemented, so
// Python falls back to identity. An ordinary failure of the other operand's conversion
// (any Exception) counts as "not an integer"; anything else (KeyboardInterrupt, SystemExit)
// propagates, so a Ctrl-C during a comparison is never lost.
template <class Record>
PyObject* compare(PyObject* self, PyObject* other, int op) {
    if (op != Py_EQ && op != Py_NE) Py_RETURN_NOTIMPLEMENTED;
    const Record mine = as_object<Record>(self)->value;
    bool equal;
    if (is_instance<Record>(other)) {
        equal = as_object<Record>(other)->value == mine;
    } else {
        // ColorType as a signed 64-bit number (so None equals -1, not 255), PieceType as an
        // unsigned one.
        using Number = std::conditional_t<std::is_same_v<Record, Color>, std::int64_t, std::uint64_t>;
        Number theirs = 0;
        if (!load_integer(other, theirs)) {
            if (!PyErr_ExceptionMatches(PyExc_Exception)) return nullptr;
            PyErr_Clear();
            Py_RETURN_NOTIMPLEMENTED;
        }
        equal = theirs == static_cast<Number>(number_of(mine));
    }
    return PyBool_FromLong(op == Py_EQ ? equal : !equal);
}

// Both classes: a constructor from one byte, equality with numbers, int(), no hash, and each
// member as a class attribute created once with the class.
template <class Record, auto Make, auto Repr, auto Args, std::size_t N>
PyTypeObject* create_numbered_class(const std::array<Record, N>& members) {
    using New = Constructor<Make, "value">;
    static PyMethodDef methods[] = {
        reduce_method<Args>(),
        copy_method<Record>(),
        deepcopy_method<Record>(),
        {},
    };
    PyTypeObject* type = create_class<Record>({&New::tp_new, New::doc, &repr<Repr>, methods, nullptr,
                                               {{Py_tp_richcompare, reinterpret_cast<void*>(&compare<Record>)},
                                                {Py_tp_hash, reinterpret_cast<void*>(&PyObject_HashNotImplemented)},
                                                {Py_nb_int, reinterpret_cast<void*>(&as_int<Record>)}}});
    if (!type) return nullptr;
    for (Record value : members) {
        const std::string name(debug_name(value));
        if (!add_class_constant(type, name.c_str(), make_object(value))) {
            Py_DECREF(type);
            ClassOf<Record>::type = nullptr;
            return nullptr;
        }
    }
    return type;
}

Color make_color(std::uint8_t value) { return color_from_number(value); }
Kind make_kind(std::uint8_t value) { return kind_from_number(value); }

}  // namespace

template <>
PyTypeObject* create_type_of<Color>() {
    return create_numbered_class<Color, &make_color, &color_repr, &color_args>(
        std::array{Color::None, Color::Black, Color::White, Color::ColorNumber});
}

template <>
PyTypeObject* create_type_of<Kind>() {
    std::array<Kind, kKinds> members;
    for (int k = 0; k < kKinds; ++k) members[k] = static_cast<Kind>(k);
    return create_numbered_class<Kind, &make_kind, &kind_repr, &kind_args>(members);
}

}  // namespace velkorant::python

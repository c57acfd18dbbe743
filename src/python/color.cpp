// ColorType and PieceType: immutable numbered values with their members as class attributes.
#include <string>

#include "python/frame.hpp"

namespace velkorant::python {
namespace {

// The number each class compares and converts with: ColorType's signed number (-1 for None),
// PieceType's kind number.
long long number_of(Color c) { return signed_number(c); }
long long number_of(Kind k) { return number(k); }

Color make_color(std::uint8_t value) { return color_from_number(value); }
Kind make_kind(std::uint8_t value) { return kind_from_number(value); }

std::string color_repr(const Color& c) { return std::to_string(byte_of(c)); }
std::string kind_repr(const Kind& k) { return std::to_string(number(k)); }

template <class Record>
PyObject* as_int(PyObject* self) {
    return PyLong_FromLongLong(number_of(as_object<Record>(self)->value));
}

// == and != against the same class or any integer; everything else is NotImplemented, so
// Python falls back to identity. Never raises.
template <class Record>
PyObject* compare(PyObject* self, PyObject* other, int op) {
    if (op != Py_EQ && op != Py_NE) Py_RETURN_NOTIMPLEMENTED;
    Record mine = as_object<Record>(self)->value;
    bool equal;
    if (is_instance<Record>(other)) {
        equal = as_object<Record>(other)->value == mine;
    } else {
        // Any other operand counts when it converts through the index protocol: ColorType as a
        // signed 64-bit number (so None equals -1, not 255), PieceType as an unsigned one.
        using Number = std::conditional_t<std::is_same_v<Record, Color>, std::int64_t, std::uint64_t>;
        Number theirs = 0;
        if (!load_integer(other, theirs)) {
            PyErr_Clear();
            Py_RETURN_NOTIMPLEMENTED;
        }
        equal = theirs == static_cast<Number>(number_of(mine));
    }
    return PyBool_FromLong(op == Py_EQ ? equal : !equal);
}

constexpr Params<1> kNew{"__new__", {"value"}};

// Both classes: a constructor from one byte, equality with numbers, int(), and no hash.
template <class Record, auto Make, auto Repr>
PyTypeObject* create_numbered_class(const char* doc) {
    return create_class<Record>({&constructor<Make, kNew>, &repr<Repr>, doc},
                                {{Py_tp_richcompare, reinterpret_cast<void*>(&compare<Record>)},
                                 {Py_tp_hash, reinterpret_cast<void*>(&PyObject_HashNotImplemented)},
                                 {Py_nb_int, reinterpret_cast<void*>(&as_int<Record>)}});
}

// Adds each member as a class attribute, created once with the class.
template <class Record, class Values>
PyTypeObject* add_members(PyTypeObject* type, const Values& values) {
    if (!type) return nullptr;
    for (Record value : values) {
        std::string name(debug_name(value));
        if (!add_class_constant(type, name.c_str(), make_object(value))) {
            Py_DECREF(type);
            ClassOf<Record>::type = nullptr;
            return nullptr;
        }
    }
    return type;
}

}  // namespace

PyTypeObject* create_color_type() {
    constexpr Color members[] = {Color::None, Color::Black, Color::White, Color::ColorNumber};
    return add_members<Color>(create_numbered_class<Color, &make_color, &color_repr>("ColorType(value)\n--\n\n"),
                              members);
}

PyTypeObject* create_kind_type() {
    std::array<Kind, kKinds> members;
    for (int k = 0; k < kKinds; ++k) members[k] = static_cast<Kind>(k);
    return add_members<Kind>(create_numbered_class<Kind, &make_kind, &kind_repr>("PieceType(value)\n--\n\n"),
                             members);
}

}  // namespace velkorant::python

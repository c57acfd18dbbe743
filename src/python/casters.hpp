// Conversion between Python objects and C++ values: one caster per C++ type, holding both
// directions and the name that conversion messages use.
//
//   load(obj)    Python to C++, for a parameter; false with an exception set (the argument
//                name prefix is added by the caller). get() then gives the value.
//   cast(value)  C++ to Python, for a result: a new reference, or nullptr with an exception set.
#pragma once

#include <array>
#include <concepts>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

#include "python/classes.hpp"
#include "python/errors.hpp"

namespace velkorant::python {

template <class T> struct Caster;

// The caster of a parameter or result type, whatever its reference and const qualifiers.
template <class T>
using CasterFor = Caster<std::remove_cvref_t<T>>;

template <class T>
PyObject* to_python(const T& value) {
    return CasterFor<T>::cast(value);
}

// A result that the surface built as a Python object itself is handed over as it is.
template <>
struct Caster<PyObject*> {
    static PyObject* cast(PyObject* owned) { return owned; }
};

// Integers through the index protocol, range-checked for the width: "out of range integral
// type conversion attempted" outside it, CPython's own OverflowError beyond a C long.
template <class Int>
bool load_integer(PyObject* obj, Int& out) {
    constexpr const char* kOutOfRange = "out of range integral type conversion attempted";
    if constexpr (std::is_signed_v<Int>) {
        const long long v = PyLong_AsLongLong(obj);  // calls __index__ for non-int objects
        if (v == -1 && PyErr_Occurred()) return false;
        if (v < std::numeric_limits<Int>::min() || v > std::numeric_limits<Int>::max()) {
            PyErr_SetString(PyExc_OverflowError, kOutOfRange);
            return false;
        }
        out = static_cast<Int>(v);
    } else if constexpr (sizeof(Int) < sizeof(long)) {
        const long v = PyLong_AsLong(obj);
        if (v == -1 && PyErr_Occurred()) return false;
        if (v < 0 || static_cast<unsigned long>(v) > std::numeric_limits<Int>::max()) {
            PyErr_SetString(PyExc_OverflowError, kOutOfRange);
            return false;
        }
        out = static_cast<Int>(v);
    } else {
        Ref index(PyNumber_Index(obj));
        if (!index) return false;
        const unsigned long long v = PyLong_AsUnsignedLongLong(index.get());
        if (v == static_cast<unsigned long long>(-1) && PyErr_Occurred()) return false;
        out = static_cast<Int>(v);
    }
    return true;
}

template <std::integral Int>
    requires(!std::same_as<Int, bool>)
struct Caster<Int> {
    static constexpr const char* name = "int";
    Int value{};
    bool load(PyObject* obj) { return load_integer(obj, value); }
    Int get() const { return value; }
    static PyObject* cast(Int v) {
        if constexpr (std::is_signed_v<Int>) return PyLong_FromLongLong(v);
        else return PyLong_FromUnsignedLongLong(v);
    }
};

template <>
struct Caster<bool> {
    static constexpr const char* name = "bool";
    static PyObject* cast(bool b) {
        PyObject* result = b ? Py_True : Py_False;
        Py_INCREF(result);
        return result;
    }
};

// Text as UTF-8, viewed in the str's own buffer for the length of the call. A str that cannot
// be encoded (a lone surrogate) fails with the codec's own error.
template <>
struct Caster<std::string_view> {
    static constexpr const char* name = "PyString";
    std::string_view value;
    bool load(PyObject* obj) {
        if (!PyUnicode_Check(obj)) return raise_cannot_convert(obj, name);
        Py_ssize_t size = 0;
        const char* data = PyUnicode_AsUTF8AndSize(obj, &size);
        if (!data) return false;
        value = std::string_view(data, static_cast<std::size_t>(size));
        return true;
    }
    std::string_view get() const { return value; }
    static PyObject* cast(std::string_view s) {
        return PyUnicode_FromStringAndSize(s.data(), static_cast<Py_ssize_t>(s.size()));
    }
};

template <>
struct Caster<std::string> {
    static PyObject* cast(const std::string& s) { return Caster<std::string_view>::cast(s); }
};

// Instances of the module's classes. An argument is copied into the call or held with shared
// access until the call returns, as its class declares; a result is a new instance holding its
// own copy.
template <Bound Record>
struct Caster<Record> {
    using Class = ClassOf<Record>;
    static constexpr const char* name = Class::name;
    const Record* value = nullptr;
    std::optional<Record> copy;
    Borrow borrow;
    bool load(PyObject* obj) {
        if (!is_instance<Record>(obj)) return raise_cannot_convert(obj, name);
        Object<Record>* o = as_object<Record>(obj);
        borrow = Borrow(o->flag, Access::shared);
        if (!borrow) return false;
        if constexpr (Class::hold == Hold::copy) {
            copy.emplace(o->value);
            value = &*copy;
            borrow = Borrow();
        } else {
            value = &o->value;
        }
        return true;
    }
    const Record& get() const { return *value; }
    static PyObject* cast(const Record& record) { return make_object<Record>(record); }
};

// None, or the value.
template <class T>
struct Caster<std::optional<T>> {
    std::optional<CasterFor<T>> inner;
    bool load(PyObject* obj) {
        if (obj == Py_None) return true;
        return inner.emplace().load(obj);
    }
    auto get() const {
        using Value = std::remove_cvref_t<decltype(inner->get())>;
        return inner ? std::optional<Value>(inner->get()) : std::optional<Value>();
    }
    static PyObject* cast(const std::optional<T>& v) {
        if (!v) Py_RETURN_NONE;
        return to_python(*v);
    }
};

bool check_sequence(PyObject* obj, Py_ssize_t length);

// A new list, each element converted by its own caster.
template <class It>
PyObject* list_from(It first, It last) {
    Ref list(PyList_New(static_cast<Py_ssize_t>(last - first)));
    if (!list) return nullptr;
    for (Py_ssize_t i = 0; first != last; ++first, ++i) {
        PyObject* element = to_python(*first);
        if (!element) return nullptr;
        PyList_SET_ITEM(list.get(), i, element);
    }
    return list.release();
}


// A sequence of exactly N elements, each converted by its own caster. As a result, bytes for
// unsigned 8-bit numbers, a list otherwise.
template <class T, std::size_t N>
struct Caster<std::array<T, N>> {
    static constexpr const char* name = "Sequence";
    std::array<T, N> value{};
    bool load(PyObject* obj) {
        if (!check_sequence(obj, static_cast<Py_ssize_t>(N))) return false;
        for (std::size_t i = 0; i < N; ++i) {
            Ref item(PySequence_GetItem(obj, static_cast<Py_ssize_t>(i)));
            if (!item) return false;
            CasterFor<T> element;
            if (!element.load(item.get())) return false;
            value[i] = element.get();
        }
        return true;
    }
    const std::array<T, N>& get() const { return value; }
    static PyObject* cast(const std::array<T, N>& items) {
        if constexpr (std::is_same_v<T, std::uint8_t>) {
            return PyBytes_FromStringAndSize(reinterpret_cast<const char*>(items.data()), N);
        } else {
            return list_from(items.begin(), items.end());
        }
    }
};

template <class T>
struct Caster<std::vector<T>> {
    static PyObject* cast(const std::vector<T>& items) { return list_from(items.begin(), items.end()); }
};

// A generated move list becomes a list of Move objects. A move is a value that never changes, so
// the objects are shared: one per word, made the first time the word is listed and kept, so that
// listing a move takes a reference and freeing the list gives it back, with no object made or
// freed. (Moves compare and hash by their word, so only identity tells them apart.) An object
// whose word was rewritten through __setstate__ is replaced, never listed again.
struct SharedMoves {
    static inline PyObject* objects[1 << 16];  // zero until a word is first listed

    static PyObject* get(std::uint16_t word) {
        PyObject*& slot = objects[word];
        if (slot && as_object<Move>(slot)->value.word == word) [[likely]] {
            Py_INCREF(slot);
            return slot;
        }
        PyObject* made = make_object<Move>(Move{word});
        if (!made) return nullptr;
        PyObject* replaced = slot;
        slot = made;
        Py_INCREF(made);
        Py_XDECREF(replaced);
        return made;
    }
};

template <>
struct Caster<MoveList> {
    static PyObject* cast(const MoveList& moves) {
        const Py_ssize_t n = static_cast<Py_ssize_t>(moves.size());
        Ref list(PyList_New(n));
        if (!list) return nullptr;
        PyObject** items = PySequence_Fast_ITEMS(list.get());
        const std::uint16_t* words = moves.data();
        for (Py_ssize_t i = 0; i < n; ++i) {
            if (!(items[i] = SharedMoves::get(words[i]))) return nullptr;
        }
        return list.release();
    }
};

// Pairs and tuples become tuples.
template <class... T>
PyObject* tuple_of(const T&... items) {
    std::array<Ref, sizeof...(T)> converted = {Ref(to_python(items))...};
    Ref tuple(PyTuple_New(sizeof...(T)));
    if (!tuple) return nullptr;
    for (std::size_t i = 0; i < converted.size(); ++i) {
        if (!converted[i]) return nullptr;
        PyTuple_SET_ITEM(tuple.get(), static_cast<Py_ssize_t>(i), converted[i].release());
    }
    return tuple.release();
}

// A pair from a sequence of two, each element by its own caster.
template <>
struct Caster<PlayerPieces> {
    static PyObject* cast(const PlayerPieces& pieces) { return list_from(pieces.begin(), pieces.end()); }
};

template <class A, class B>
struct Caster<std::pair<A, B>> {
    static constexpr const char* name = "Sequence";
    std::pair<A, B> value{};
    bool load(PyObject* obj) {
        if (!check_sequence(obj, 2)) return false;
        return load_item<A>(obj, 0, value.first) && load_item<B>(obj, 1, value.second);
    }
    const std::pair<A, B>& get() const { return value; }
    static PyObject* cast(const std::pair<A, B>& pair) { return tuple_of(pair.first, pair.second); }

private:
    template <class T>
    static bool load_item(PyObject* obj, Py_ssize_t i, T& out) {
        Ref item(PySequence_GetItem(obj, i));
        if (!item) return false;
        CasterFor<T> element;
        if (!element.load(item.get())) return false;
        out = element.get();
        return true;
    }
};

template <class... T>
struct Caster<std::tuple<T...>> {
    static PyObject* cast(const std::tuple<T...>& items) {
        return std::apply([](const auto&... item) { return tuple_of(item...); }, items);
    }
};

// Raw bytes, for pickled states: a bytes object in either direction (viewed in the object's
// own buffer for the length of the call when loaded).
struct Bytes {
    std::string data;
};
struct BytesView {
    std::string_view data;
};
template <>
struct Caster<Bytes> {
    static PyObject* cast(const Bytes& b) {
        return PyBytes_FromStringAndSize(b.data.data(), static_cast<Py_ssize_t>(b.data.size()));
    }
};
template <>
struct Caster<BytesView> {
    static constexpr const char* name = "PyBytes";
    BytesView value;
    bool load(PyObject* obj) {
        if (!PyBytes_Check(obj)) return raise_cannot_convert(obj, name);
        value.data = std::string_view(PyBytes_AS_STRING(obj), static_cast<std::size_t>(PyBytes_GET_SIZE(obj)));
        return true;
    }
    BytesView get() const { return value; }
};

}  // namespace velkorant::python

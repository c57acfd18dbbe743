// The call frame shared by every class of the module.
//
// Every exposed member runs the same steps: match the arguments to the parameters, borrow the
// receiver, convert each argument, run the rules, convert the result, release the borrows. This
// header writes that sequence once; each class file then declares its members as one-line
// bindings such as
//
//   {"deploy", fastcall<&deploy, Access::exclusive, kDeploy>, METH_FASTCALL | METH_KEYWORDS, ...}
//
// Conversion is chosen by the C++ parameter type (Caster<T>), result conversion by the C++
// result type (to_python). Failures of the rules layer are caught at the boundary in one place
// (run_guarded) and become Python exceptions; no C++ exception crosses into CPython.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <new>
#include <string>
#include <string_view>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

#include "velkorant/address.hpp"
#include "velkorant/board.hpp"
#include "velkorant/color.hpp"
#include "velkorant/errors.hpp"
#include "velkorant/hand.hpp"
#include "velkorant/moves.hpp"
#include "velkorant/piece.hpp"

namespace velkorant::python {

// ---------------------------------------------------------------------------------------------
// Owned references

// Owns one strong reference and drops it on scope exit.
class Ref {
public:
    Ref() = default;
    explicit Ref(PyObject* owned) : p_(owned) {}
    Ref(const Ref&) = delete;
    Ref& operator=(const Ref&) = delete;
    Ref(Ref&& other) noexcept : p_(other.release()) {}
    Ref& operator=(Ref&& other) noexcept {
        if (this != &other) {
            Py_XDECREF(p_);
            p_ = other.release();
        }
        return *this;
    }
    ~Ref() { Py_XDECREF(p_); }

    PyObject* get() const { return p_; }
    PyObject* release() {
        PyObject* p = p_;
        p_ = nullptr;
        return p;
    }
    explicit operator bool() const { return p_ != nullptr; }

private:
    PyObject* p_ = nullptr;
};

// ---------------------------------------------------------------------------------------------
// Instances and borrowing

// Free, shared by `state` holders (> 0) or held exclusively (-1).
struct BorrowFlag {
    std::int32_t state = 0;
};

enum class Access { shared, exclusive };

// Every instance: the object header, its borrow flag and the native record it owns.
template <class Record>
struct Object {
    PyObject_HEAD
    BorrowFlag flag;
    Record value;
};

// Holds one borrow and releases it on every path. A guard that failed to borrow has set
// RuntimeError and converts to false.
class Borrow {
public:
    Borrow() = default;
    Borrow(BorrowFlag& flag, Access access) {
        if (access == Access::exclusive) {
            if (flag.state != 0) {
                PyErr_SetString(PyExc_RuntimeError, "Already borrowed");
                return;
            }
            flag.state = -1;
        } else {
            if (flag.state < 0) {
                PyErr_SetString(PyExc_RuntimeError, "Already mutably borrowed");
                return;
            }
            ++flag.state;
        }
        flag_ = &flag;
        access_ = access;
    }
    Borrow(const Borrow&) = delete;
    Borrow& operator=(const Borrow&) = delete;
    Borrow(Borrow&& other) noexcept : flag_(std::exchange(other.flag_, nullptr)), access_(other.access_) {}
    Borrow& operator=(Borrow&& other) noexcept {
        if (this != &other) {
            release();
            flag_ = std::exchange(other.flag_, nullptr);
            access_ = other.access_;
        }
        return *this;
    }
    ~Borrow() { release(); }
    explicit operator bool() const { return flag_ != nullptr; }

private:
    void release() {
        if (!flag_) return;
        if (access_ == Access::exclusive) flag_->state = 0; else --flag_->state;
        flag_ = nullptr;
    }
    BorrowFlag* flag_ = nullptr;
    Access access_ = Access::shared;
};

// The Python class that wraps each record type. `type` is set once, when the module creates
// the class, and lives for the rest of the process.
template <class Record> struct ClassOf;
#define VELKORANT_CLASS(Record, Name)                                   \
    template <> struct ClassOf<Record> {                                \
        static constexpr const char* name = Name;                       \
        static constexpr const char* qualified_name = "velkorant." Name; \
        static inline PyTypeObject* type = nullptr;                     \
    }
VELKORANT_CLASS(Address, "Address");
VELKORANT_CLASS(Color, "ColorType");
VELKORANT_CLASS(Kind, "PieceType");
VELKORANT_CLASS(Piece, "Piece");
VELKORANT_CLASS(Move, "Move");
VELKORANT_CLASS(Hand, "Hand");
VELKORANT_CLASS(Board, "Board");
#undef VELKORANT_CLASS

template <class Record>
Object<Record>* as_object(PyObject* self) {
    return reinterpret_cast<Object<Record>*>(self);
}

template <class Record>
bool is_instance(PyObject* obj) {
    return Py_TYPE(obj) == ClassOf<Record>::type;
}

// Moves are created by the hundred per generated list, so their memory is recycled through a
// bounded free list instead of going back to the allocator each time. A Move on the free list
// keeps its type and the reference to it: taking it back only has to make it a new reference.
struct MoveFreeList {
    static constexpr int kCapacity = 4096;
    static inline PyObject* items[kCapacity];
    static inline int size = 0;
};

// A new instance owning `value`, or nullptr with MemoryError set.
template <class Record>
PyObject* make_object(Record value) {
    PyObject* obj;
    if (std::is_same_v<Record, Move> && MoveFreeList::size) {
        obj = MoveFreeList::items[--MoveFreeList::size];
#if PY_VERSION_HEX < 0x030D0000
        _Py_NewReference(obj);
#else
        PyObject_Init(obj, ClassOf<Record>::type);
        Py_DECREF(ClassOf<Record>::type);  // it already held its reference to the type
#endif
    } else {
        obj = static_cast<PyObject*>(PyObject_Malloc(sizeof(Object<Record>)));
        if (!obj) return PyErr_NoMemory();
        PyObject_Init(obj, ClassOf<Record>::type);  // takes a reference to the heap type
    }
    auto* o = as_object<Record>(obj);
    o->flag = BorrowFlag{};
    ::new (&o->value) Record(std::move(value));
    return obj;
}

template <class Record>
void dealloc(PyObject* self) {
    static_assert(std::is_trivially_destructible_v<Record>);
    if (std::is_same_v<Record, Move> && MoveFreeList::size < MoveFreeList::kCapacity) {
        MoveFreeList::items[MoveFreeList::size++] = self;
        return;
    }
    PyTypeObject* type = Py_TYPE(self);
    PyObject_Free(self);
    Py_DECREF(type);
}

// ---------------------------------------------------------------------------------------------
// Errors

// The exception for fatal failures of the native code, created once per process.
PyObject* panic_exception_type();

// Translates the exception in flight (inside a catch block) into a Python exception.
void set_python_error_from_current_exception();

// Runs `body` and turns any C++ exception into the matching Python exception. `body` returns a
// new reference or nullptr with an exception set.
template <class Body>
PyObject* run_guarded(Body&& body) noexcept {
    try {
        return body();
    } catch (...) {
        set_python_error_from_current_exception();
        return nullptr;
    }
}

// Replaces a TypeError in flight by "argument 'name': <message>", keeping its cause. Errors of
// any other type pass through unchanged.
void prefix_argument_error(const char* name);

// ---------------------------------------------------------------------------------------------
// Argument matching

// The parameters of one method: the method name as Python shows it in messages and the
// parameter names in order. Constructors are named "__new__".
template <std::size_t N>
struct Params {
    const char* method;
    std::array<const char*, N> names;
};

// Fills `out` from positional and keyword arguments, raising TypeError with the messages of
// Python's own argument matching (too many positional, then each keyword in order, then
// missing). `out` holds borrowed references.
bool match_arguments(const char* cls, const char* method, const char* const* names, std::size_t n,
                     PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames, PyObject** out);
bool match_arguments(const char* cls, const char* method, const char* const* names, std::size_t n,
                     PyObject* args, PyObject* kwargs, PyObject** out);

// ---------------------------------------------------------------------------------------------
// Argument conversion, one caster per C++ parameter type. load() returns false with an
// exception set; the argument name prefix is added by the caller.

template <class T> struct Caster;

// Integers through the index protocol, range-checked for the width.
template <class Int>
bool load_integer(PyObject* obj, Int& out) {
    if constexpr (std::is_signed_v<Int>) {
        long long v = PyLong_AsLongLong(obj);  // calls __index__ for non-int objects
        if (v == -1 && PyErr_Occurred()) return false;
        if (v < std::numeric_limits<Int>::min() || v > std::numeric_limits<Int>::max()) {
            PyErr_SetString(PyExc_OverflowError, "out of range integral type conversion attempted");
            return false;
        }
        out = static_cast<Int>(v);
    } else if constexpr (sizeof(Int) < sizeof(long)) {
        long v = PyLong_AsLong(obj);
        if (v == -1 && PyErr_Occurred()) return false;
        if (v < 0 || static_cast<unsigned long>(v) > std::numeric_limits<Int>::max()) {
            PyErr_SetString(PyExc_OverflowError, "out of range integral type conversion attempted");
            return false;
        }
        out = static_cast<Int>(v);
    } else {
        Ref index(PyNumber_Index(obj));
        if (!index) return false;
        unsigned long long v = PyLong_AsUnsignedLongLong(index.get());
        if (v == static_cast<unsigned long long>(-1) && PyErr_Occurred()) return false;
        out = static_cast<Int>(v);
    }
    return true;
}

template <>
struct Caster<std::uint8_t> {
    std::uint8_t value = 0;
    bool load(PyObject* obj) { return load_integer(obj, value); }
    std::uint8_t get() const { return value; }
};

bool raise_cannot_convert(PyObject* obj, const char* target);

// Instances of the module's value classes, copied into the call.
template <class Record>
struct CopyCaster {
    Record value{};
    bool load(PyObject* obj) {
        if (!is_instance<Record>(obj)) return raise_cannot_convert(obj, ClassOf<Record>::name);
        Borrow check(as_object<Record>(obj)->flag, Access::shared);
        if (!check) return false;
        value = as_object<Record>(obj)->value;
        return true;
    }
    Record get() const { return value; }
};
template <> struct Caster<Color> : CopyCaster<Color> {};
template <> struct Caster<Kind> : CopyCaster<Kind> {};
template <> struct Caster<Piece> : CopyCaster<Piece> {};

// Instances held with shared access for the length of the call.
template <class Record>
struct SharedCaster {
    const Record* value = nullptr;
    Borrow borrow;
    bool load(PyObject* obj) {
        if (!is_instance<Record>(obj)) return raise_cannot_convert(obj, ClassOf<Record>::name);
        borrow = Borrow(as_object<Record>(obj)->flag, Access::shared);
        if (!borrow) return false;
        value = &as_object<Record>(obj)->value;
        return true;
    }
    const Record& get() const { return *value; }
};
template <> struct Caster<const Address&> : SharedCaster<Address> {};
template <> struct Caster<const Move&> : SharedCaster<Move> {};

// Text as UTF-8 bytes. A str that cannot be encoded (a lone surrogate) fails with the codec's
// own error.
template <>
struct Caster<std::string_view> {
    std::string_view value;
    bool load(PyObject* obj) {
        if (!PyUnicode_Check(obj)) return raise_cannot_convert(obj, "PyString");
        Py_ssize_t size = 0;
        const char* data = PyUnicode_AsUTF8AndSize(obj, &size);
        if (!data) return false;
        value = std::string_view(data, static_cast<std::size_t>(size));
        return true;
    }
    std::string_view get() const { return value; }
};

// A sequence of exactly N elements, each converted by its own caster.
bool check_sequence(PyObject* obj, Py_ssize_t length);

template <class T, std::size_t N>
struct Caster<std::array<T, N>> {
    std::array<T, N> value{};
    bool load(PyObject* obj) {
        if (!check_sequence(obj, static_cast<Py_ssize_t>(N))) return false;
        for (std::size_t i = 0; i < N; ++i) {
            Ref item(PySequence_GetItem(obj, static_cast<Py_ssize_t>(i)));
            if (!item) return false;
            Caster<T> element;
            if (!element.load(item.get())) return false;
            value[i] = element.get();
        }
        return true;
    }
    const std::array<T, N>& get() const { return value; }
};

template <class T>
using CasterFor = Caster<std::conditional_t<std::is_same_v<std::decay_t<T>, Address> ||
                                                std::is_same_v<std::decay_t<T>, Move>,
                                            const std::decay_t<T>&, std::decay_t<T>>>;

// ---------------------------------------------------------------------------------------------
// Result conversion: a new reference, or nullptr with an exception set.

// A surface function that builds its Python result itself hands it over as it is.
inline PyObject* to_python(PyObject* owned) { return owned; }
inline PyObject* to_python(bool b) { return PyBool_FromLong(b); }
inline PyObject* to_python(std::uint8_t v) { return PyLong_FromLong(v); }
inline PyObject* to_python(const std::string& s) {
    return PyUnicode_FromStringAndSize(s.data(), static_cast<Py_ssize_t>(s.size()));
}
template <class Record>
    requires requires { ClassOf<Record>::name; }
PyObject* to_python(const Record& record) {
    return make_object<Record>(record);
}
template <std::size_t N>
PyObject* to_python(const std::array<std::uint8_t, N>& bytes) {
    return PyBytes_FromStringAndSize(reinterpret_cast<const char*>(bytes.data()), N);
}
// Any other sequence becomes a new list, each element converted by these rules.
template <class Sequence>
    requires requires(const Sequence& s) { s.begin(); s.end(); }
PyObject* to_python(const Sequence& items) {
    Ref list(PyList_New(static_cast<Py_ssize_t>(items.end() - items.begin())));
    if (!list) return nullptr;
    Py_ssize_t i = 0;
    for (const auto& item : items) {
        PyObject* element = to_python(item);
        if (!element) return nullptr;
        PyList_SET_ITEM(list.get(), i++, element);
    }
    return list.release();
}
template <class A, class B>
PyObject* to_python(const std::pair<A, B>& pair) {
    Ref first(to_python(pair.first));
    if (!first) return nullptr;
    Ref second(to_python(pair.second));
    if (!second) return nullptr;
    return PyTuple_Pack(2, first.get(), second.get());
}

// ---------------------------------------------------------------------------------------------
// Bindings

template <class F> struct Signature;
template <class R, class Self, class... Args>
struct Signature<R (*)(Self&, Args...)> {
    using Result = R;
    using Record = std::remove_const_t<Self>;
    using Arguments = std::tuple<Args...>;
    static constexpr std::size_t arity = sizeof...(Args);
};

template <class Result, class Call>
PyObject* invoke_and_convert(Call&& call) {
    return run_guarded([&]() -> PyObject* {
        if constexpr (std::is_void_v<Result>) {
            call();
            Py_RETURN_NONE;
        } else {
            return to_python(call());
        }
    });
}

// Converts matched arguments in parameter order into `casters`, prefixing TypeErrors with the
// parameter name.
template <class Casters, std::size_t... I, std::size_t N>
bool load_arguments(Casters& casters, PyObject* const* argv, const Params<N>& params,
                    std::index_sequence<I...>) {
    bool ok = true;
    ((ok = ok && (std::get<I>(casters).load(argv[I]) ||
                  (prefix_argument_error(params.names[I]), false))),
     ...);
    return ok;
}

template <auto F, Access A, std::size_t N, class... Args, std::size_t... I>
PyObject* call_with(PyObject* self, PyObject* const* argv, const Params<N>& params,
                    std::tuple<Args...>*, std::index_sequence<I...> seq) {
    using S = Signature<decltype(F)>;
    auto* obj = as_object<typename S::Record>(self);
    Borrow borrow(obj->flag, A);
    if (!borrow) return nullptr;
    std::tuple<CasterFor<Args>...> casters;
    if (!load_arguments(casters, argv, params, seq)) return nullptr;
    return invoke_and_convert<typename S::Result>(
        [&]() -> decltype(auto) { return F(obj->value, std::get<I>(casters).get()...); });
}

// A method with parameters: METH_FASTCALL | METH_KEYWORDS.
template <auto F, Access A, const auto& P>
PyObject* fastcall(PyObject* self, PyObject* const* args, size_t nargsf, PyObject* kwnames) {
    using S = Signature<decltype(F)>;
    static_assert(S::arity == std::tuple_size_v<decltype(P.names)>);
    PyObject* argv[S::arity > 0 ? S::arity : 1] = {};
    if (!match_arguments(ClassOf<typename S::Record>::name, P.method, P.names.data(), S::arity, args,
                         PyVectorcall_NARGS(nargsf), kwnames, argv))
        return nullptr;
    return call_with<F, A>(self, argv, P, static_cast<typename S::Arguments*>(nullptr),
                           std::make_index_sequence<S::arity>{});
}

// The method table stores every entry point as a PyCFunction; the flags tell CPython the real
// signature.
template <class F>
PyCFunction as_cfunction(F f) {
    return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(f));
}

// A method without parameters: METH_NOARGS (CPython itself refuses any argument).
template <auto F, Access A>
PyObject* noargs(PyObject* self, PyObject*) {
    using S = Signature<decltype(F)>;
    static_assert(S::arity == 0);
    auto* obj = as_object<typename S::Record>(self);
    Borrow borrow(obj->flag, A);
    if (!borrow) return nullptr;
    return invoke_and_convert<typename S::Result>([&]() -> decltype(auto) { return F(obj->value); });
}

// `__repr__`: "velkorant.<Class>(<content>)".
template <auto Content>
PyObject* repr(PyObject* self) {
    using S = Signature<decltype(Content)>;
    auto* obj = as_object<typename S::Record>(self);
    Borrow borrow(obj->flag, Access::shared);
    if (!borrow) return nullptr;
    return run_guarded([&]() -> PyObject* {
        std::string text = "velkorant.";
        text += ClassOf<typename S::Record>::name;
        text += '(';
        text += Content(obj->value);
        text += ')';
        return to_python(text);
    });
}

// A constructor: tp_new converting its arguments into the record's factory.
template <auto Make, const auto& P, class... Args, std::size_t... I>
PyObject* construct_with(PyObject* const* argv, std::tuple<Args...>*, std::index_sequence<I...> seq) {
    std::tuple<CasterFor<Args>...> casters;
    if (!load_arguments(casters, argv, P, seq)) return nullptr;
    return run_guarded([&]() -> PyObject* { return to_python(Make(std::get<I>(casters).get()...)); });
}

template <class F> struct FactorySignature;
template <class R, class... Args>
struct FactorySignature<R (*)(Args...)> {
    using Record = R;
    using Arguments = std::tuple<Args...>;
    static constexpr std::size_t arity = sizeof...(Args);
};

template <auto Make, const auto& P>
PyObject* constructor(PyTypeObject*, PyObject* args, PyObject* kwargs) {
    using S = FactorySignature<decltype(Make)>;
    PyObject* argv[S::arity > 0 ? S::arity : 1] = {};
    if (!match_arguments(ClassOf<typename S::Record>::name, "__new__", P.names.data(), S::arity, args, kwargs, argv))
        return nullptr;
    return construct_with<Make, P>(argv, static_cast<typename S::Arguments*>(nullptr),
                                   std::make_index_sequence<S::arity>{});
}

// An attribute: the getter returns a new object holding a copy of the field; the setter takes
// the receiver exclusively, converts the value (the attribute name prefixes a TypeError) and
// stores it; deletion is refused.
template <auto Field, const char* Name>
struct Attribute;
template <class Record, class T, T Record::*Field, const char* Name>
struct Attribute<Field, Name> {
    static PyObject* get(PyObject* self, void*) {
        auto* obj = as_object<Record>(self);
        Borrow borrow(obj->flag, Access::shared);
        if (!borrow) return nullptr;
        return run_guarded([&] { return to_python(obj->value.*Field); });
    }
    static int set(PyObject* self, PyObject* value, void*) {
        if (!value) {
            PyErr_SetString(PyExc_AttributeError, "can't delete attribute");
            return -1;
        }
        auto* obj = as_object<Record>(self);
        Borrow borrow(obj->flag, Access::exclusive);
        if (!borrow) return -1;
        CasterFor<T> caster;
        if (!caster.load(value)) {
            prefix_argument_error(Name);
            return -1;
        }
        obj->value.*Field = caster.get();
        return 0;
    }
    static constexpr PyGetSetDef def(const char* doc = nullptr) {
        return PyGetSetDef{Name, &get, &set, doc, nullptr};
    }
};

// `__copy__` / `__deepcopy__(memo)`: a new, independent object with the same record. The
// record owns no other object, so a deep copy is the same copy.
template <class Record>
PyObject* copy(PyObject* self, PyObject*) {
    auto* obj = as_object<Record>(self);
    Borrow borrow(obj->flag, Access::shared);
    if (!borrow) return nullptr;
    return make_object<Record>(obj->value);
}

// ---------------------------------------------------------------------------------------------
// Types

// Creates a heap type "velkorant.<name>" from its slots: not subclassable, immutable (class
// attributes read-only, no __class__ assignment), no __dict__, no weak references.
PyTypeObject* create_type(const char* qualified_name, int basicsize, PyType_Slot* slots);

// Adds a constant as a class attribute of an immutable type, before the type is published.
bool add_class_constant(PyTypeObject* type, const char* name, PyObject* value);

// What each class declares about itself; create_class adds the deallocation of the record.
struct ClassSlots {
    newfunc constructor;
    reprfunc repr;
    const char* doc;  // "Name(signature)\n--\n\n"
    PyMethodDef* methods = nullptr;
    PyGetSetDef* getset = nullptr;
};

// Creates the class of `Record` once per process and records it in ClassOf<Record>::type.
template <class Record>
PyTypeObject* create_class(const ClassSlots& c, std::initializer_list<PyType_Slot> extra = {}) {
    std::vector<PyType_Slot> slots = {
        {Py_tp_dealloc, reinterpret_cast<void*>(&dealloc<Record>)},
        {Py_tp_new, reinterpret_cast<void*>(c.constructor)},
        {Py_tp_repr, reinterpret_cast<void*>(c.repr)},
        {Py_tp_doc, const_cast<char*>(c.doc)},
    };
    if (c.methods) slots.push_back({Py_tp_methods, c.methods});
    if (c.getset) slots.push_back({Py_tp_getset, c.getset});
    slots.insert(slots.end(), extra);
    slots.push_back({0, nullptr});
    return ClassOf<Record>::type =
               create_type(ClassOf<Record>::qualified_name, sizeof(Object<Record>), slots.data());
}

// Per-class creation functions, called once per process by the module entry in registration
// order.
PyTypeObject* create_address_type();
PyTypeObject* create_color_type();
PyTypeObject* create_kind_type();
PyTypeObject* create_piece_type();
PyTypeObject* create_move_type();
PyTypeObject* create_hand_type();
PyTypeObject* create_board_type();

}  // namespace velkorant::python

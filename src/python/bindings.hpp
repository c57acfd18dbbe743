// Bindings: a member of a class is one declaration, and everything else is derived from it at
// compile time.
//
//   method<"deploy", &Board::deploy, "index", "piece_type", "color">()
//   static_method<"from_usi", &Move::from_usi, "usi", "color">()
//   constructor<&make<Address, std::uint8_t, std::uint8_t>, "column", "row">
//   attribute<"column", &Address::column>()        (get and set)
//   getter<"turn", &Game::turn>()                   (read only)
//   repr<&Board::placement>
//
// From the callable come the receiver's class, the borrow mode (exclusive when the receiver is
// a non-const record or the member function is not const), the parameter types and so the
// casters, and the result conversion; from the names come the text signature
// ("deploy($self, index, piece_type, color)\n--\n\n") and the calling convention (no-argument
// when there are no parameters, fastcall with keywords otherwise). A parameter name may carry a
// default as Python writes it, "sfen=None" or "ply=1": it then shows in the signature and is
// what the parameter receives when the caller leaves it out.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <tuple>
#include <type_traits>
#include <utility>

#include "docstrings.hpp"  // generated from the stub of the classes
#include "python/arguments.hpp"
#include "python/casters.hpp"
#include "python/released.hpp"

namespace velkorant::python {

// ---------------------------------------------------------------------------------------------
// Names as template parameters (Name itself is in object.hpp)

// A parameter written "name" or "name=default".
template <Name P>
struct Parameter {
    static constexpr std::size_t split = [] {
        for (std::size_t i = 0; i + 1 < sizeof(P.text); ++i)
            if (P.text[i] == '=') return i;
        return std::string_view::npos;
    }();
    static constexpr bool has_default = split != std::string_view::npos;
    static constexpr std::string_view name_view = has_default ? P.view().substr(0, split) : P.view();
    static constexpr std::string_view default_text = has_default ? P.view().substr(split + 1) : std::string_view{};
    static constexpr auto name_storage = [] {
        std::array<char, name_view.size() + 1> out{};
        std::copy(name_view.begin(), name_view.end(), out.begin());
        return out;
    }();
    static constexpr const char* name = name_storage.data();
};

// Joins pieces of text at compile time into one NUL-terminated array.
template <std::size_t Length>
struct Text {
    std::array<char, Length + 1> chars{};
    std::size_t used = 0;
    constexpr void add(std::string_view s) {
        for (char c : s) chars[used++] = c;
    }
};

// "<head>(<$self, >p1, p2)\n--\n\n": CPython's text signature form.
template <Name Head, bool Self, Name... P>
struct TextSignature {
    static constexpr std::size_t length = [] {
        std::size_t n = Head.view().size() + 1 + (Self ? 5 : 0) + 1 + 5;
        ((n += P.view().size() + 2), ...);
        return n;
    }();
    static constexpr auto text = [] {
        Text<length> t;
        t.add(Head.view());
        t.add("(");
        bool first = true;
        if (Self) {
            t.add("$self");
            first = false;
        }
        ((t.add(first ? "" : ", "), t.add(P.view()), first = false), ...);
        t.add(")\n--\n\n");
        return t;
    }();
    static constexpr const char* value = text.chars.data();
};

// ---------------------------------------------------------------------------------------------
// What a callable tells about itself

template <class F> struct Callable;

// A member function of the record: exclusive unless it is const.
template <class R, class C, class... A>
struct Callable<R (C::*)(A...)> {
    using Record = C;
    using Result = R;
    using Arguments = std::tuple<A...>;
    static constexpr Access access = Access::exclusive;
};
template <class R, class C, class... A>
struct Callable<R (C::*)(A...) const> : Callable<R (C::*)(A...)> {
    static constexpr Access access = Access::shared;
};
template <class R, class C, class... A>
struct Callable<R (C::*)(A...) noexcept> : Callable<R (C::*)(A...)> {};
template <class R, class C, class... A>
struct Callable<R (C::*)(A...) const noexcept> : Callable<R (C::*)(A...) const> {};

// A free function whose first parameter is the receiver: exclusive when it takes the record by
// non-const reference.
template <class R, class S, class... A>
struct Callable<R (*)(S, A...)> {
    using Record = std::remove_cvref_t<S>;
    using Result = R;
    using Arguments = std::tuple<A...>;
    static constexpr Access access =
        std::is_lvalue_reference_v<S> && !std::is_const_v<std::remove_reference_t<S>> ? Access::exclusive
                                                                                       : Access::shared;
};
template <class R, class S, class... A>
struct Callable<R (*)(S, A...) noexcept> : Callable<R (*)(S, A...)> {};

// A function with no receiver (constructors and static methods): every parameter is an argument.
template <class F> struct Factory;
template <class R, class... A>
struct Factory<R (*)(A...)> {
    using Result = R;
    using Arguments = std::tuple<A...>;
};
template <class R, class... A>
struct Factory<R (*)(A...) noexcept> : Factory<R (*)(A...)> {};

// A callable whose last parameter is a Checkpoint& is a long call: the frame passes it the
// checkpoint and runs it without the interpreter lock. Its other parameters are the arguments.
template <class Tuple>
constexpr bool takes_checkpoint = [] {
    if constexpr (std::tuple_size_v<Tuple> == 0) return false;
    else return std::is_same_v<std::tuple_element_t<std::tuple_size_v<Tuple> - 1, Tuple>, Checkpoint&>;
}();

template <class Tuple, bool = takes_checkpoint<Tuple>>
struct PythonArguments {
    using type = Tuple;
};
template <class Tuple, class Indices>
struct FirstOf;
template <class Tuple, std::size_t... I>
struct FirstOf<Tuple, std::index_sequence<I...>> {
    using type = std::tuple<std::tuple_element_t<I, Tuple>...>;
};
template <class... A>
struct PythonArguments<std::tuple<A...>, true> {
    using type = typename FirstOf<std::tuple<A...>, std::make_index_sequence<sizeof...(A) - 1>>::type;
};
template <class F>
using ArgumentsOf = typename PythonArguments<typename Callable<F>::Arguments>::type;

// Builds a record from its fields, for constructors that do nothing else.
template <class Record, class... A>
Record make(A... fields) {
    return Record{fields...};
}

// An independent copy, for copy(), __copy__ and __deepcopy__.
template <class Record>
Record copy_of(const Record& record) {
    return record;
}

// ---------------------------------------------------------------------------------------------
// The call

// Runs the rules and converts the result; no C++ exception leaves.
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

// Calls member `F` of `record` with the converted arguments: a long call without the
// interpreter lock, any other with it.
template <auto F, class Record, class... V>
PyObject* invoke_member(Record& record, const V&... values) {
    using S = Callable<decltype(F)>;
    if constexpr (takes_checkpoint<typename S::Arguments>) {
        return invoke_unlocked<typename S::Result>(
            [&](Checkpoint& checkpoint) -> decltype(auto) { return std::invoke(F, record, values..., checkpoint); });
    } else {
        return invoke_and_convert<typename S::Result>([&]() -> decltype(auto) { return std::invoke(F, record, values...); });
    }
}

// The object a parameter receives when the caller leaves it out: None, or an integer.
template <Name P>
Ref default_object() {
    using Param = Parameter<P>;
    if constexpr (Param::default_text == "None") {
        return Ref::borrowed(Py_None);
    } else {
        static constexpr auto text = [] {
            std::array<char, Param::default_text.size() + 1> out{};
            std::copy(Param::default_text.begin(), Param::default_text.end(), out.begin());
            return out;
        }();
        return Ref(PyLong_FromString(text.data(), nullptr, 10));
    }
}

template <Name... P>
struct Parameters {
    static constexpr std::size_t count = sizeof...(P);
    static constexpr std::array<const char*, count> names = {Parameter<P>::name...};
    static constexpr std::array<bool, count> defaulted = {Parameter<P>::has_default...};
    static constexpr std::size_t required = [] {
        std::size_t n = 0;
        while (n < count && !defaulted[n]) ++n;
        return n;
    }();
    static_assert(std::all_of(defaulted.begin() + required, defaulted.end(), [](bool d) { return d; }),
                  "parameters with defaults come last");

    // Puts each missing parameter's default in `argv`, keeping the references in `owned`.
    static bool fill_defaults(PyObject** argv, std::array<Ref, count>& owned) {
        std::size_t i = 0;
        bool ok = true;
        ((ok = ok && (argv[i] || fill_one<P>(argv[i], owned[i])), ++i), ...);
        return ok;
    }
    template <Name One>
    static bool fill_one(PyObject*& slot, Ref& owned) {
        if constexpr (Parameter<One>::has_default) {
            owned = default_object<One>();
            slot = owned.get();
            return slot != nullptr;
        }
        return true;
    }
};

// Converts matched arguments in parameter order, prefixing a TypeError with the parameter name;
// the first failure ends the call.
template <class Casters, std::size_t... I, std::size_t N>
bool load_arguments(Casters& casters, PyObject* const* argv, const std::array<const char*, N>& names,
                    std::index_sequence<I...>) {
    bool ok = true;
    ((ok = ok && (std::get<I>(casters).load(argv[I]) || (prefix_argument_error(names[I]), false))), ...);
    return ok;
}

// Matches, converts and calls: `run(casters...)` with the receiver already borrowed.
template <class ParamsT, class Arguments, class Run>
PyObject* call_with_arguments(const char* cls, const char* member, PyObject* const* args, Py_ssize_t nargs,
                              PyObject* kwnames, PyObject* tuple_args, PyObject* kwargs, Run&& run) {
    constexpr std::size_t n = ParamsT::count;
    static_assert(n == std::tuple_size_v<Arguments>, "one name per parameter");
    PyObject* argv[n > 0 ? n : 1] = {};
    if (!tuple_args && !kwnames && nargs == static_cast<Py_ssize_t>(n)) {
        // Every parameter given by position, the common case: nothing to match.
        std::copy(args, args + n, argv);
    } else {
        const ParameterList list{cls, member, ParamsT::names.data(), n, ParamsT::required};
        const bool matched = tuple_args ? match_arguments(list, tuple_args, kwargs, argv)
                                        : match_arguments(list, args, nargs, kwnames, argv);
        if (!matched) return nullptr;
    }
    std::array<Ref, n> defaults;
    if (ParamsT::required < n && !ParamsT::fill_defaults(argv, defaults)) return nullptr;
    return [&]<std::size_t... I>(std::index_sequence<I...> seq) -> PyObject* {
        std::tuple<CasterFor<std::tuple_element_t<I, Arguments>>...> casters;
        if (!load_arguments(casters, argv, ParamsT::names, seq)) return nullptr;
        return run(std::get<I>(casters).get()...);
    }(std::make_index_sequence<n>{});
}

// The entry point of a method with parameters (METH_FASTCALL | METH_KEYWORDS).
template <Name N, auto F, Name... P>
PyObject* call_method(PyObject* self, PyObject* const* args, size_t nargsf, PyObject* kwnames) {
    using S = Callable<decltype(F)>;
    using Record = typename S::Record;
    Object<Record>* obj = as_object<Record>(self);
    Borrow borrow(obj->flag, S::access);
    if (!borrow) return nullptr;
    return call_with_arguments<Parameters<P...>, ArgumentsOf<decltype(F)>>(
        ClassOf<Record>::name, N.text, args, PyVectorcall_NARGS(nargsf), kwnames, nullptr, nullptr,
        [&](const auto&... values) { return invoke_member<F>(obj->value, values...); });
}

// A shared call that returns a number or a truth value keeps the interpreter lock and runs no
// Python code, its result conversion included: nothing can borrow the record meanwhile, so the
// call needs only to see that no exclusive borrow is held, not to take a borrow and give it back.
template <class S>
constexpr bool brief_shared_call = S::access == Access::shared && std::is_arithmetic_v<typename S::Result> &&
                                   !takes_checkpoint<typename S::Arguments>;

// The entry point of a method without parameters (METH_NOARGS: CPython refuses any argument).
template <auto F>
PyObject* call_noargs(PyObject* self, PyObject*) {
    using S = Callable<decltype(F)>;
    Object<typename S::Record>* obj = as_object<typename S::Record>(self);
    if constexpr (brief_shared_call<S>) {
        if (obj->flag.state < 0) return raise_mutably_borrowed();
        return invoke_member<F>(obj->value);
    }
    Borrow borrow(obj->flag, S::access);
    if (!borrow) return nullptr;
    return invoke_member<F>(obj->value);
}

// The entry point of a static method: no receiver; messages name the class of its result.
template <Name N, auto F, Name... P>
PyObject* call_static(PyObject*, PyObject* const* args, size_t nargsf, PyObject* kwnames) {
    using S = Factory<decltype(F)>;
    return call_with_arguments<Parameters<P...>, typename S::Arguments>(
        ClassOf<std::remove_cvref_t<typename S::Result>>::name, N.text, args, PyVectorcall_NARGS(nargsf),
        kwnames, nullptr, nullptr, [&](const auto&... values) {
            return invoke_and_convert<typename S::Result>([&]() -> decltype(auto) { return F(values...); });
        });
}

template <class F>
PyCFunction as_cfunction(F f) {
    return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(f));
}

// A member's docstring, from the stub of the classes (its one source); the build refuses a member
// that the stub does not document.
template <class Record, Name Member>
consteval const char* documented() {
    for (const auto& entry : docs::kEntries)
        if (entry.cls == ClassOf<Record>::title.view() && entry.member == Member.view()) return entry.text;
    return nullptr;
}

// A method's documentation: its text signature, then its docstring, joined at compile time.
template <class Record, Name Member, class Signature>
struct MethodDoc {
    static constexpr const char* body = documented<Record, Member>();
    static_assert(body != nullptr, "document the member in python/velkorant/_core.pyi");
    static constexpr std::string_view head = Signature::value, tail = body;
    static constexpr auto text = [] {
        std::array<char, head.size() + tail.size() + 1> out{};
        std::copy(tail.begin(), tail.end(), std::copy(head.begin(), head.end(), out.begin()));
        return out;
    }();
    static constexpr const char* value = text.data();
};

// ---------------------------------------------------------------------------------------------
// Declarations

// A method without parameters is declared METH_FASTCALL and refuses arguments itself, the message
// CPython gives for METH_NOARGS: the interpreter calls such a bound method straight from its
// loop, where it would call a METH_NOARGS one through the generic vectorcall path.
template <Name N, auto F>
PyObject* call_fast_noargs(PyObject* self, PyObject* const*, Py_ssize_t nargs) {
    if (nargs != 0) [[unlikely]] {
        using Record = typename Callable<decltype(F)>::Record;
        PyErr_Format(PyExc_TypeError, "%s.%s() takes no arguments (%zd given)", ClassOf<Record>::name, N.text, nargs);
        return nullptr;
    }
    return call_noargs<F>(self, nullptr);
}

template <Name N, auto F, Name... P>
PyMethodDef method() {
    using Doc = MethodDoc<typename Callable<decltype(F)>::Record, N, TextSignature<N, true, P...>>;
    if constexpr (sizeof...(P) == 0) {
        return {N.text, as_cfunction(&call_fast_noargs<N, F>), METH_FASTCALL, Doc::value};
    } else {
        return {N.text, as_cfunction(&call_method<N, F, P...>), METH_FASTCALL | METH_KEYWORDS, Doc::value};
    }
}

template <Name N, auto F, Name... P>
PyMethodDef static_method() {
    using Record = std::remove_cvref_t<typename Factory<decltype(F)>::Result>;
    return {N.text, as_cfunction(&call_static<N, F, P...>), METH_FASTCALL | METH_KEYWORDS | METH_STATIC,
            MethodDoc<Record, N, TextSignature<N, false, P...>>::value};
}

// `__copy__` and `__deepcopy__(memo, /)`: an independent object with the same record. A record
// owns no Python object, so the deep copy is the same copy.
template <class Record>
PyObject* copy_object(PyObject* self, PyObject*) {
    auto* obj = as_object<Record>(self);
    Borrow borrow(obj->flag, Access::shared);
    if (!borrow) return nullptr;
    return run_guarded([&] { return make_object<Record>(obj->value); });
}
template <class Record>
PyMethodDef copy_method() {
    return {"__copy__", &copy_object<Record>, METH_NOARGS,
            MethodDoc<Record, "__copy__", TextSignature<"__copy__", true>>::value};
}
template <class Record>
PyMethodDef deepcopy_method() {
    return {"__deepcopy__", &copy_object<Record>, METH_O,
            MethodDoc<Record, "__deepcopy__", TextSignature<"__deepcopy__", true, "memo", "/">>::value};
}

// Pickling. `__reduce__` gives (class, arguments): calling the class with the arguments that
// `Args(record)` returns (a tuple) rebuilds an equal object. With a state as well,
// (class, arguments, state): CPython then passes the state to the object's `__setstate__`.
template <auto Args>
PyObject* reduce(PyObject* self, PyObject*) {
    Ref args(call_noargs<Args>(self, nullptr));
    if (!args) return nullptr;
    return PyTuple_Pack(2, reinterpret_cast<PyObject*>(Py_TYPE(self)), args.get());
}
template <auto Args>
PyMethodDef reduce_method() {
    return {"__reduce__", &reduce<Args>, METH_NOARGS,
            MethodDoc<typename Callable<decltype(Args)>::Record, "__reduce__", TextSignature<"__reduce__", true>>::value};
}

template <auto Args, auto State>
PyObject* reduce_with_state(PyObject* self, PyObject*) {
    Ref args(call_noargs<Args>(self, nullptr));
    if (!args) return nullptr;
    Ref state(call_noargs<State>(self, nullptr));
    if (!state) return nullptr;
    return PyTuple_Pack(3, reinterpret_cast<PyObject*>(Py_TYPE(self)), args.get(), state.get());
}
template <auto Args, auto State>
PyMethodDef reduce_method() {
    return {"__reduce__", &reduce_with_state<Args, State>, METH_NOARGS,
            MethodDoc<typename Callable<decltype(Args)>::Record, "__reduce__", TextSignature<"__reduce__", true>>::value};
}

// No constructor arguments.
template <class Record>
std::tuple<> no_arguments(const Record&) {
    return {};
}

// A constructor: tp_new converting its arguments for the record's factory; `doc` is the class
// documentation, "<Class>(<parameters>)\n--\n\n".
template <auto F, Name... P>
struct Constructor {
    using S = Factory<decltype(F)>;
    using Record = std::remove_cvref_t<typename S::Result>;
    static constexpr const char* doc = TextSignature<ClassOf<Record>::title, false, P...>::value;

    static PyObject* tp_new(PyTypeObject*, PyObject* args, PyObject* kwargs) {
        return call_with_arguments<Parameters<P...>, typename S::Arguments>(
            ClassOf<Record>::name, "__new__", nullptr, 0, nullptr, args, kwargs, [&](const auto&... values) {
                return invoke_and_convert<typename S::Result>([&]() -> decltype(auto) { return F(values...); });
            });
    }
};

// An attribute over a field: the getter returns a new object holding a copy of the field; the
// setter takes the receiver exclusively, converts the value (the attribute name prefixes a
// TypeError) and stores it; deletion is refused.
template <Name N, auto Field>
struct FieldAttribute;
template <Name N, class R, class T, T R::*Field>
struct FieldAttribute<N, Field> {
    using Record = R;
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
            prefix_argument_error(N.text);
            return -1;
        }
        obj->value.*Field = caster.get();
        return 0;
    }
};

template <Name N, auto Field>
PyGetSetDef attribute() {
    using A = FieldAttribute<N, Field>;
    constexpr const char* doc = documented<typename A::Record, N>();
    static_assert(doc != nullptr, "document the attribute in python/velkorant/_core.pyi");
    return {N.text, &A::get, &A::set, doc, nullptr};
}

// A read-only attribute computed by a const member function or a free function of the record.
template <auto F>
PyObject* get_computed(PyObject* self, void*) {
    return call_noargs<F>(self, nullptr);
}

template <Name N, auto F>
PyGetSetDef getter() {
    static_assert(Callable<decltype(F)>::access == Access::shared, "a getter does not change its object");
    constexpr const char* doc = documented<typename Callable<decltype(F)>::Record, N>();
    static_assert(doc != nullptr, "document the attribute in python/velkorant/_core.pyi");
    return {N.text, &get_computed<F>, nullptr, doc, nullptr};
}

// `__repr__`: "velkorant.<Class>(<content>)".
template <auto Content>
PyObject* repr(PyObject* self) {
    using S = Callable<decltype(Content)>;
    auto* obj = as_object<typename S::Record>(self);
    Borrow borrow(obj->flag, Access::shared);
    if (!borrow) return nullptr;
    return run_guarded([&]() -> PyObject* {
        std::string text = "velkorant.";
        text += ClassOf<typename S::Record>::name;
        text += '(';
        text += std::invoke(Content, obj->value);
        text += ')';
        return to_python(text);
    });
}

}  // namespace velkorant::python

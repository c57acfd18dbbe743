// Owned references, and the instances of the module's classes with their borrow flag.
//
// Every instance is the object header, a borrow flag and the native record it owns. What is
// particular to one class (its name, how its instances are held when passed as arguments, a
// free list for objects made by the hundred) is declared with that class in classes.hpp.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <new>
#include <string_view>
#include <type_traits>
#include <utility>

namespace velkorant::python {

// A name as a template parameter: "deploy", "Board".
template <std::size_t N>
struct Name {
    char text[N]{};
    constexpr Name(const char (&s)[N]) { std::copy_n(s, N, text); }
    constexpr std::string_view view() const { return {text, N - 1}; }
};

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

    static Ref borrowed(PyObject* p) {
        Py_XINCREF(p);
        return Ref(p);
    }
    PyObject* get() const { return p_; }
    PyObject* release() { return std::exchange(p_, nullptr); }
    explicit operator bool() const { return p_ != nullptr; }

private:
    PyObject* p_ = nullptr;
};

// Free (0), shared by `state` holders (> 0) or held exclusively (-1).
struct BorrowFlag {
    std::int32_t state = 0;
};

enum class Access { shared, exclusive };

// Sets the RuntimeError of a shared borrow refused because the object is held exclusively.
inline PyObject* raise_mutably_borrowed() {
    PyErr_SetString(PyExc_RuntimeError, "Already mutably borrowed");
    return nullptr;
}

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
                raise_mutably_borrowed();
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

// How an instance passed as an argument is held: copied into the call (the argument is free
// again at once), or borrowed with shared access until the call returns.
enum class Hold { copy, shared };

// The Python class of a record: specialised once per class in classes.hpp with
//   title      the class name, "Board", as a Name (and `name`, its text)
//   hold       how its instances are held as arguments
//   free_list  0, or how many freed objects to keep for reuse
//   type       the type object, set when the module creates the class
template <class Record> struct ClassOf;

template <class T>
concept Bound = requires { ClassOf<std::remove_cvref_t<T>>::name; };

template <class Record>
struct Object {
    PyObject_HEAD
    BorrowFlag flag;
    Record value;
};

template <class Record>
Object<Record>* as_object(PyObject* self) {
    return reinterpret_cast<Object<Record>*>(self);
}

template <class Record>
bool is_instance(PyObject* obj) {
    return Py_TYPE(obj) == ClassOf<Record>::type;
}

// Freed objects of a class that opts in, kept with their type reference for reuse: taking one
// back only has to make it a new reference. Nothing here runs Python code, so an allocation that
// sets off the garbage collector cannot interleave with a push or a pop.
template <class Record>
struct FreeList {
    static constexpr int capacity = ClassOf<Record>::free_list;
    static inline PyObject* items[capacity > 0 ? capacity : 1];
    static inline int size = 0;
};

// Makes an object taken from the free list a new reference again.
template <class Record>
void revive(PyObject* obj) {
#if PY_VERSION_HEX < 0x030D0000 && (defined(Py_REF_DEBUG) || defined(Py_TRACE_REFS))
    _Py_NewReference(obj);  // a debug interpreter counts every reference
#elif PY_VERSION_HEX < 0x030D0000
    // What a release interpreter's _Py_NewReference does, inline: a call per Move is a tenth of
    // a move list's cost. It would also tell tracemalloc, while tracing, that the block was
    // taken again here; the block stays traced from where it was first allocated.
    Py_SET_REFCNT(obj, 1);
#else
    PyObject_Init(obj, ClassOf<Record>::type);
    Py_DECREF(ClassOf<Record>::type);  // it already held its reference to the type
#endif
}

// A freed object of the class, made a new reference again, or nullptr when there is none.
template <class Record>
PyObject* reuse_freed() {
    using Free = FreeList<Record>;
    if constexpr (Free::capacity > 0) {
        if (Free::size) {
            PyObject* obj = Free::items[--Free::size];
            revive<Record>(obj);
            return obj;
        }
    }
    return nullptr;
}

// A new instance owning `value`, or nullptr with MemoryError set.
template <class Record>
PyObject* make_object(Record value) {
    PyObject* obj = reuse_freed<Record>();
    if (!obj) {
        obj = static_cast<PyObject*>(PyObject_Malloc(sizeof(Object<Record>)));
        if (!obj) return PyErr_NoMemory();
        PyObject_Init(obj, ClassOf<Record>::type);  // takes a reference to the heap type
    }
    auto* o = as_object<Record>(obj);
    o->flag = BorrowFlag{};
    if constexpr (requires { o->listed_for; }) o->listed_for = 0;  // a new Move was listed nowhere
    ::new (&o->value) Record(std::move(value));
    return obj;
}

// `n` new instances into out[0..n), for a list of them: `init(o, i)` constructs the record of
// the i-th (and whatever else its object holds). Freed objects are taken first, all in one go.
// False with MemoryError set when one cannot be allocated; the slots from there on are left as
// they were.
template <class Record, class Init>
bool make_objects(PyObject** out, std::size_t n, Init&& init) {
    using Free = FreeList<Record>;
    std::size_t i = 0;
    if constexpr (Free::capacity > 0) {
        const std::size_t reused = std::min(n, static_cast<std::size_t>(Free::size));
        PyObject* const* top = Free::items + Free::size;  // taken from the top down, as one by one
        Free::size -= static_cast<int>(reused);
        for (; i < reused; ++i) {
            PyObject* obj = *--top;
            revive<Record>(obj);
            auto* o = as_object<Record>(obj);
            o->flag = BorrowFlag{};
            init(o, i);
            out[i] = obj;
        }
    }
    for (; i < n; ++i) {
        PyObject* obj = static_cast<PyObject*>(PyObject_Malloc(sizeof(Object<Record>)));
        if (!obj) {
            PyErr_NoMemory();
            return false;
        }
        PyObject_Init(obj, ClassOf<Record>::type);
        auto* o = as_object<Record>(obj);
        o->flag = BorrowFlag{};
        init(o, i);
        out[i] = obj;
    }
    return true;
}

template <class Record>
void dealloc(PyObject* self) {
    using Free = FreeList<Record>;
    as_object<Record>(self)->value.~Record();
    if constexpr (Free::capacity > 0) {
        if (Free::size < Free::capacity) {
            Free::items[Free::size++] = self;
            return;
        }
    }
    PyTypeObject* type = Py_TYPE(self);
    PyObject_Free(self);
    Py_DECREF(type);
}

}  // namespace velkorant::python

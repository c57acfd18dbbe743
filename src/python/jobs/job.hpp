// What the job modules share: their functions' calling convention, the buffers they read and
// write (numpy arrays, bytes), the texts they take from a sequence of str, and the thread count.
#pragma once

#include <cstddef>
#include <string_view>
#include <utility>
#include <vector>

#include "python/casters.hpp"

namespace velkorant::python::job {

// A METH_FASTCALL function as the method table holds it.
template <PyObject* (*F)(PyObject*, PyObject* const*, Py_ssize_t)>
PyCFunction fastcall() {
    return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(F));
}

// A Python object that holds one native value: built in place by `make_held`, destroyed by
// `held_dealloc` (the tp_dealloc of its type), reached with `held<T>`.
template <class T>
struct Held {
    PyObject_HEAD
    T value;
};

template <class T>
T& held(PyObject* obj) {
    return reinterpret_cast<Held<T>*>(obj)->value;
}

template <class T, class... Args>
PyObject* make_held(PyTypeObject* type, Args&&... args) {
    PyObject* obj = type->tp_alloc(type, 0);
    if (!obj) return nullptr;
    ::new (&held<T>(obj)) T(std::forward<Args>(args)...);
    return obj;
}

template <class T>
void held_dealloc(PyObject* self) {
    PyTypeObject* type = Py_TYPE(self);
    held<T>(self).~T();
    type->tp_free(self);
    Py_DECREF(type);
}

// A C-contiguous buffer borrowed for the length of a call. A failed one has set its exception
// and converts to false.
class Buffer {
public:
    // Any buffer of bytes, writable if asked.
    Buffer(PyObject* obj, bool writable) {
        held_ = PyObject_GetBuffer(obj, &view_, PyBUF_C_CONTIGUOUS | (writable ? PyBUF_WRITABLE : 0)) == 0;
        ok_ = held_;
    }
    // A writable buffer of exactly `items` items of struct format `format` ('f' float32, '?'
    // bool, 'q' int64, 'B' uint8, 'b' int8) and `size` bytes each; `name` names the argument in
    // messages.
    Buffer(PyObject* obj, const char* name, char format, std::size_t size, std::size_t items) {
        if (PyObject_GetBuffer(obj, &view_, PyBUF_WRITABLE | PyBUF_C_CONTIGUOUS | PyBUF_FORMAT) < 0) return;
        held_ = true;
        const char* f = view_.format ? view_.format : "B";
        if (*f == '<' || *f == '=' || *f == '@') ++f;
        const bool int64 = format == 'q' && (*f == 'q' || *f == 'l');  // 'l' is 64 bits where longs are
        if ((f[0] != format && !int64) || f[1] != '\0' || static_cast<std::size_t>(view_.itemsize) != size) {
            PyErr_Format(PyExc_TypeError, "%s must hold %s, not items of format '%s'", name, format_name(format),
                         view_.format ? view_.format : "B");
            return;
        }
        if (static_cast<std::size_t>(view_.len) != items * size) {
            PyErr_Format(PyExc_ValueError, "%s must hold %zu items, not %zd", name, items, view_.len / view_.itemsize);
            return;
        }
        ok_ = true;
    }
    Buffer(const Buffer&) = delete;
    Buffer& operator=(const Buffer&) = delete;
    ~Buffer() {
        if (held_) PyBuffer_Release(&view_);
    }
    explicit operator bool() const { return ok_; }
    template <class T = unsigned char>
    T* data() const { return static_cast<T*>(view_.buf); }
    std::size_t size() const { return static_cast<std::size_t>(view_.len); }

private:
    static const char* format_name(char format) {
        switch (format) {
            case 'f': return "float32";
            case 'q': return "int64";
            case 'B': return "uint8";
            case 'b': return "int8";
            default: return "bool";
        }
    }

    Py_buffer view_{};
    bool held_ = false;
    bool ok_ = false;
};

// The texts of a sequence of str, kept alive here: the caller's list may change while the lock
// is released.
struct Texts {
    std::vector<Ref> owners;
    std::vector<std::string_view> views;

    // False with an exception set; `what` names an item in messages ("sfen 3 must be str").
    bool load(PyObject* sequence, const char* what) {
        Ref items(PySequence_Fast(sequence, "expected a sequence of str"));
        if (!items) return false;
        const auto count = static_cast<std::size_t>(PySequence_Fast_GET_SIZE(items.get()));
        owners.reserve(count);
        views.reserve(count);
        for (std::size_t i = 0; i < count; ++i) {
            PyObject* item = PySequence_Fast_GET_ITEM(items.get(), static_cast<Py_ssize_t>(i));
            if (!PyUnicode_Check(item))
                return PyErr_Format(PyExc_TypeError, "%s %zu must be str, not %.200s", what, i, Py_TYPE(item)->tp_name),
                       false;
            Py_ssize_t size = 0;
            const char* utf8 = PyUnicode_AsUTF8AndSize(item, &size);
            if (!utf8) return false;
            owners.push_back(Ref::borrowed(item));
            views.emplace_back(utf8, static_cast<std::size_t>(size));
        }
        return true;
    }
};

// The `threads` argument: 0 (every core) to 1024.
inline bool load_threads(PyObject* obj, unsigned& out) {
    const long n = PyLong_AsLong(obj);
    if (n == -1 && PyErr_Occurred()) return false;
    if (n < 0 || n > 1024) return PyErr_Format(PyExc_ValueError, "threads is 0 (every core) to 1024, not %ld", n), false;
    out = static_cast<unsigned>(n);
    return true;
}

}  // namespace velkorant::python::job

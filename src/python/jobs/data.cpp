// velkorant._data: the native loops under velkorant.data.
//
//   pack(sfens, packing, out, threads)     SFENs into 32-byte packed positions, written into a
//                                          writable buffer of 32 bytes an item
//   unpack(data, packing, threads) -> list of SFENs
//   move16(sfen, word), psv_move16(sfen, word) -> int          the library's move word in
//   move_from_move16(sfen, m16), move_from_psv_move16(sfen, m16) -> the library's move word
//
// packing is "hcp" or "psfen". The batch calls run without the interpreter lock on `threads`
// threads (0: every core); a failure names the index of the first bad item.
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "python/casters.hpp"
#include "python/released.hpp"
#include "velkorant/packed.hpp"
#include "velkorant/parallel.hpp"

namespace velkorant::python {
namespace {

constexpr std::size_t kPacked = std::tuple_size_v<PackedPosition>;

// A buffer borrowed for the length of a call.
class Buffer {
public:
    Buffer() = default;
    Buffer(const Buffer&) = delete;
    Buffer& operator=(const Buffer&) = delete;
    ~Buffer() {
        if (held_) PyBuffer_Release(&view_);
    }
    // False with the exception set when `obj` has no C-contiguous buffer (writable if asked).
    bool get(PyObject* obj, bool writable) {
        if (PyObject_GetBuffer(obj, &view_, PyBUF_C_CONTIGUOUS | (writable ? PyBUF_WRITABLE : 0)) < 0) return false;
        held_ = true;
        return true;
    }
    std::uint8_t* data() const { return static_cast<std::uint8_t*>(view_.buf); }
    std::size_t size() const { return static_cast<std::size_t>(view_.len); }

private:
    Py_buffer view_{};
    bool held_ = false;
};

bool packing_named(PyObject* obj, Packing& out) {
    CasterFor<std::string_view> text;
    if (!text.load(obj)) return false;
    if (text.get() == "hcp") return out = Packing::Hcp, true;
    if (text.get() == "psfen") return out = Packing::Psfen, true;
    PyErr_Format(PyExc_ValueError, "unknown packing %R: hcp or psfen", obj);
    return false;
}

bool threads_of(PyObject* obj, unsigned& out) {
    const long n = PyLong_AsLong(obj);
    if (n == -1 && PyErr_Occurred()) return false;
    if (n < 0 || n > 1024) return PyErr_Format(PyExc_ValueError, "threads is 0 (every core) to 1024, not %ld", n), false;
    out = static_cast<unsigned>(n);
    return true;
}

// Runs `each(i)` for every item on several threads; a failure becomes "item i: <message>".
template <class Each>
void for_items(std::size_t count, unsigned threads, Checkpoint& checkpoint, Each&& each) {
    parallel_for(count, threads, checkpoint, [&](std::size_t begin, std::size_t end) {
        for (std::size_t i = begin; i < end; ++i) {
            try {
                each(i);
            } catch (const ValueError& e) {
                throw ValueError("item " + std::to_string(i) + ": " + e.message());
            }
        }
    });
}

PyObject* pack_items(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
    if (nargs != 4) return PyErr_SetString(PyExc_TypeError, "pack(sfens, packing, out, threads)"), nullptr;
    Packing packing;
    unsigned threads;
    if (!packing_named(args[1], packing) || !threads_of(args[3], threads)) return nullptr;
    // A tuple of its own: the texts stay alive and unchanged while the lock is released.
    Ref items(PySequence_Tuple(args[0]));
    if (!items) return nullptr;
    const auto n = static_cast<std::size_t>(PyTuple_GET_SIZE(items.get()));
    std::vector<std::string_view> sfens(n);
    for (std::size_t i = 0; i < n; ++i) {
        PyObject* item = PyTuple_GET_ITEM(items.get(), static_cast<Py_ssize_t>(i));
        Py_ssize_t size;
        const char* text = PyUnicode_Check(item) ? PyUnicode_AsUTF8AndSize(item, &size) : nullptr;
        if (!text) {
            if (!PyErr_Occurred())
                PyErr_Format(PyExc_TypeError, "item %zu: an SFEN is a str, not %.100s", i, Py_TYPE(item)->tp_name);
            return nullptr;
        }
        sfens[i] = std::string_view(text, static_cast<std::size_t>(size));
    }
    Buffer out;
    if (!out.get(args[2], true)) return nullptr;
    if (out.size() != n * kPacked)
        return PyErr_Format(PyExc_ValueError, "the output holds %zu bytes, not 32 for each of %zu items", out.size(), n);
    return run_unlocked(
        [&](Checkpoint& checkpoint) {
            for_items(n, threads, checkpoint, [&](std::size_t i) {
                const PackedPosition p = pack(Game(sfens[i]), packing);
                std::memcpy(out.data() + i * kPacked, p.data(), kPacked);
            });
        },
        [](bool) -> PyObject* { Py_RETURN_NONE; }, &set_python_error_from_current_exception);
}

PyObject* unpack_items(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
    if (nargs != 3) return PyErr_SetString(PyExc_TypeError, "unpack(data, packing, threads)"), nullptr;
    Packing packing;
    unsigned threads;
    if (!packing_named(args[1], packing) || !threads_of(args[2], threads)) return nullptr;
    Buffer data;
    if (!data.get(args[0], false)) return nullptr;
    if (data.size() % kPacked)
        return PyErr_Format(PyExc_ValueError, "%zu bytes are no whole number of 32-byte positions", data.size());
    const std::size_t n = data.size() / kPacked;
    return run_unlocked(
        [&](Checkpoint& checkpoint) {
            std::vector<std::string> sfens(n);
            for_items(n, threads, checkpoint, [&](std::size_t i) { sfens[i] = unpack(data.data() + i * kPacked, packing).sfen(); });
            return sfens;
        },
        [](std::vector<std::string>&& sfens) -> PyObject* {
            Ref list(PyList_New(static_cast<Py_ssize_t>(sfens.size())));
            if (!list) return nullptr;
            for (std::size_t i = 0; i < sfens.size(); ++i) {
                PyObject* text = PyUnicode_FromStringAndSize(sfens[i].data(), static_cast<Py_ssize_t>(sfens[i].size()));
                if (!text) return nullptr;
                PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), text);
            }
            return list.release();
        },
        &set_python_error_from_current_exception);
}

// (sfen, word): the game of the SFEN and a 16-bit word.
template <class Convert>
PyObject* word_call(PyObject* const* args, Py_ssize_t nargs, const char* usage, Convert&& convert) {
    if (nargs != 2) return PyErr_SetString(PyExc_TypeError, usage), nullptr;
    CasterFor<std::string_view> sfen;
    if (!sfen.load(args[0])) return nullptr;
    const long word = PyLong_AsLong(args[1]);
    if (word == -1 && PyErr_Occurred()) return nullptr;
    if (word < 0 || word > 0xffff) return PyErr_Format(PyExc_ValueError, "a move word is 0..65535, not %ld", word);
    return run_guarded([&]() -> PyObject* {
        return PyLong_FromLong(convert(Game(sfen.get()), static_cast<std::uint16_t>(word)));
    });
}

PyObject* to_move16(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
    return word_call(args, nargs, "move16(sfen, move_word)", [](const Game& g, std::uint16_t w) { return move16(g, Move{w}); });
}
PyObject* to_psv_move16(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
    return word_call(args, nargs, "psv_move16(sfen, move_word)", [](const Game& g, std::uint16_t w) { return psv_move16(g, Move{w}); });
}
PyObject* from_move16(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
    return word_call(args, nargs, "move_from_move16(sfen, m16)", [](const Game& g, std::uint16_t w) { return move_from_move16(g, w).word; });
}
PyObject* from_psv_move16(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
    return word_call(args, nargs, "move_from_psv_move16(sfen, m16)",
                     [](const Game& g, std::uint16_t w) { return move_from_psv_move16(g, w).word; });
}

template <PyObject* (*F)(PyObject*, PyObject* const*, Py_ssize_t)>
constexpr PyCFunction fastcall() {
    return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(F));
}

PyMethodDef functions[] = {
    {"pack", fastcall<&pack_items>(), METH_FASTCALL,
     "pack(sfens, packing, out, threads, /)\n--\n\nSFENs packed into `out`, 32 bytes an item."},
    {"unpack", fastcall<&unpack_items>(), METH_FASTCALL,
     "unpack(data, packing, threads, /)\n--\n\nThe SFENs of 32-byte packed positions."},
    {"move16", fastcall<&to_move16>(), METH_FASTCALL,
     "move16(sfen, move_word, /)\n--\n\nThe hcpe move word of a legal move (the library's move word)."},
    {"psv_move16", fastcall<&to_psv_move16>(), METH_FASTCALL,
     "psv_move16(sfen, move_word, /)\n--\n\nThe PackedSfenValue move word of a legal move."},
    {"move_from_move16", fastcall<&from_move16>(), METH_FASTCALL,
     "move_from_move16(sfen, m16, /)\n--\n\nThe library's move word of the legal move an hcpe word names."},
    {"move_from_psv_move16", fastcall<&from_psv_move16>(), METH_FASTCALL,
     "move_from_psv_move16(sfen, m16, /)\n--\n\nThe library's move word of the legal move a PackedSfenValue word names."},
    {},
};

PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT, "velkorant._data", "The native loops of velkorant.data.", 0,
    functions, nullptr, nullptr, nullptr, nullptr,
};

}  // namespace
}  // namespace velkorant::python

PyMODINIT_FUNC PyInit__data() { return PyModule_Create(&velkorant::python::module_def); }

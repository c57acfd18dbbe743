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
#include "python/jobs/job.hpp"
#include "python/released.hpp"
#include "velkorant/packed.hpp"
#include "velkorant/parallel.hpp"

namespace velkorant::python {
namespace {

constexpr std::size_t kPacked = std::tuple_size_v<PackedPosition>;

bool packing_named(PyObject* obj, Packing& out) {
    CasterFor<std::string_view> text;
    if (!text.load(obj)) return false;
    if (text.get() == "hcp") return out = Packing::Hcp, true;
    if (text.get() == "psfen") return out = Packing::Psfen, true;
    PyErr_Format(PyExc_ValueError, "unknown packing %R: hcp or psfen", obj);
    return false;
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
    if (!packing_named(args[1], packing) || !job::load_threads(args[3], threads)) return nullptr;
    job::Texts sfens;
    if (!sfens.load(args[0], "item")) return nullptr;
    const std::size_t n = sfens.views.size();
    const job::Buffer out(args[2], true);
    if (!out) return nullptr;
    if (out.size() != n * kPacked)
        return PyErr_Format(PyExc_ValueError, "the output holds %zu bytes, not 32 for each of %zu items", out.size(), n);
    return run_unlocked(
        [&](Checkpoint& checkpoint) {
            for_items(n, threads, checkpoint, [&](std::size_t i) {
                const Position position = position_of_sfen(sfens.views[i]);
                const PackedPosition p = pack(position.board, position.turn, packing);
                std::memcpy(out.data() + i * kPacked, p.data(), kPacked);
            });
        },
        [](bool) -> PyObject* { Py_RETURN_NONE; }, &set_python_error_from_current_exception);
}

PyObject* unpack_items(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
    if (nargs != 3) return PyErr_SetString(PyExc_TypeError, "unpack(data, packing, threads)"), nullptr;
    Packing packing;
    unsigned threads;
    if (!packing_named(args[1], packing) || !job::load_threads(args[2], threads)) return nullptr;
    const job::Buffer data(args[0], false);
    if (!data) return nullptr;
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

PyMethodDef functions[] = {
    {"pack", job::fastcall<&pack_items>(), METH_FASTCALL,
     "pack(sfens, packing, out, threads, /)\n--\n\nSFENs packed into `out`, 32 bytes an item."},
    {"unpack", job::fastcall<&unpack_items>(), METH_FASTCALL,
     "unpack(data, packing, threads, /)\n--\n\nThe SFENs of 32-byte packed positions."},
    {"move16", job::fastcall<&to_move16>(), METH_FASTCALL,
     "move16(sfen, move_word, /)\n--\n\nThe hcpe move word of a legal move (the library's move word)."},
    {"psv_move16", job::fastcall<&to_psv_move16>(), METH_FASTCALL,
     "psv_move16(sfen, move_word, /)\n--\n\nThe PackedSfenValue move word of a legal move."},
    {"move_from_move16", job::fastcall<&from_move16>(), METH_FASTCALL,
     "move_from_move16(sfen, m16, /)\n--\n\nThe library's move word of the legal move an hcpe word names."},
    {"move_from_psv_move16", job::fastcall<&from_psv_move16>(), METH_FASTCALL,
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

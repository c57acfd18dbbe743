// velkorant._features: the native network inputs and move labels under velkorant.data.
//
//   features(sfen, out1, out2)                   both plane sets of one position, into buffers
//   features_sfens(sfens, out1, out2, threads)   the same for many SFENs, without the interpreter lock
//   labels_sfens(sfens, moves, out, threads)     the label of a legal USI move of each SFEN
//   move_label(sfen, word) -> int                the label of a legal move (its 16-bit word)
//   legal_labels(sfen) -> bytearray              the labels of the legal moves, int64 each
//   legal_mask(sfen, out)                        one bool a label: is it the label of a legal move
//
// A position crosses as its SFEN; the output buffers are C-contiguous and writable, float32
// ("f") for the planes and bool ("?") for the mask, of exactly the size asked for.
#include <algorithm>
#include <cstring>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "python/casters.hpp"
#include "python/released.hpp"
#include "velkorant/features.hpp"
#include "velkorant/game.hpp"
#include "velkorant/legal.hpp"
#include "velkorant/parallel.hpp"

namespace velkorant::python {
namespace {

// A writable C-contiguous buffer of one item format, released on every path. A failed one has
// set its exception and converts to false.
class Buffer {
public:
    Buffer(PyObject* obj, const char* name, char format, std::size_t items) {
        if (PyObject_GetBuffer(obj, &view_, PyBUF_WRITABLE | PyBUF_C_CONTIGUOUS | PyBUF_FORMAT) < 0) return;
        held_ = true;
        const char* f = view_.format ? view_.format : "B";
        if (*f == '<' || *f == '=' || *f == '@') ++f;
        const std::size_t size = format == 'f' ? sizeof(float) : 1;
        if (f[0] != format || f[1] != '\0' || static_cast<std::size_t>(view_.itemsize) != size) {
            PyErr_Format(PyExc_TypeError, "%s must hold %s, not items of format '%s'", name,
                         format == 'f' ? "float32" : "bool", view_.format ? view_.format : "B");
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
    template <class T>
    T* data() const { return static_cast<T*>(view_.buf); }

private:
    Py_buffer view_{};
    bool held_ = false;
    bool ok_ = false;
};

// The position of a SFEN argument; false with an exception set.
bool load_position(PyObject* obj, Position& out) {
    CasterFor<std::string_view> text;
    if (!text.load(obj)) return false;
    try {
        const Game game(text.get());
        out.board = game.board();
        out.turn = game.turn();
        return true;
    } catch (...) {
        set_python_error_from_current_exception();
        return false;
    }
}

PyObject* features(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
    if (nargs != 3) return PyErr_SetString(PyExc_TypeError, "features(sfen, out1, out2)"), nullptr;
    Position position;
    if (!load_position(args[0], position)) return nullptr;
    const Buffer out1(args[1], "out1", 'f', kFeatures1Floats);
    if (!out1) return nullptr;
    const Buffer out2(args[2], "out2", 'f', kFeatures2Floats);
    if (!out2) return nullptr;
    return run_guarded([&]() -> PyObject* {
        write_features(position.board, position.turn, out1.data<float>(), out2.data<float>());
        Py_RETURN_NONE;
    });
}

// How many SFENs are read into positions at a time: memory stays bounded however many there are.
constexpr std::size_t kBlock = 4096;

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

// Reads sfens[first + i] into positions[i] for i < positions.size(), on several threads; a
// malformed SFEN is a ValueError naming its index.
void read_positions(const Texts& sfens, std::size_t first, std::span<Position> positions, unsigned threads,
                    Checkpoint& checkpoint) {
    parallel_for(positions.size(), threads, checkpoint, [&](std::size_t begin, std::size_t end) {
        for (std::size_t i = begin; i < end; ++i) {
            try {
                const Game game(sfens.views[first + i]);
                positions[i].board = game.board();
                positions[i].turn = game.turn();
            } catch (const ValueError& e) {
                throw ValueError("sfen " + std::to_string(first + i) + ": " + e.message());
            }
        }
    });
}

PyObject* features_sfens(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
    if (nargs != 4) return PyErr_SetString(PyExc_TypeError, "features_sfens(sfens, out1, out2, threads)"), nullptr;
    Texts sfens;
    if (!sfens.load(args[0], "sfen")) return nullptr;
    const std::size_t count = sfens.views.size();
    unsigned threads = 0;
    if (!load_integer(args[3], threads)) return nullptr;
    const Buffer out1(args[1], "out1", 'f', count * kFeatures1Floats);
    if (!out1) return nullptr;
    const Buffer out2(args[2], "out2", 'f', count * kFeatures2Floats);
    if (!out2) return nullptr;
    return invoke_unlocked<void>([&](Checkpoint& checkpoint) {
        std::vector<Position> positions(std::min(count, kBlock));
        for (std::size_t first = 0; first < count; first += kBlock) {
            const std::size_t n = std::min(kBlock, count - first);
            read_positions(sfens, first, std::span<Position>(positions.data(), n), threads, checkpoint);
            write_features_batch(std::span<const Position>(positions.data(), n),
                                 out1.data<float>() + first * kFeatures1Floats,
                                 out2.data<float>() + first * kFeatures2Floats, threads, checkpoint);
        }
    });
}

PyObject* labels_sfens(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
    if (nargs != 4) return PyErr_SetString(PyExc_TypeError, "labels_sfens(sfens, moves, out, threads)"), nullptr;
    Texts sfens, moves;
    if (!sfens.load(args[0], "sfen") || !moves.load(args[1], "move")) return nullptr;
    const std::size_t count = sfens.views.size();
    if (moves.views.size() != count)
        return PyErr_Format(PyExc_ValueError, "%zu moves for %zu positions: one move a position", moves.views.size(), count),
               nullptr;
    unsigned threads = 0;
    if (!load_integer(args[3], threads)) return nullptr;
    Py_buffer view{};
    if (PyObject_GetBuffer(args[2], &view, PyBUF_WRITABLE | PyBUF_C_CONTIGUOUS | PyBUF_FORMAT) < 0) return nullptr;
    const std::unique_ptr<Py_buffer, decltype(&PyBuffer_Release)> held(&view, &PyBuffer_Release);
    if (view.itemsize != 8 || !view.format || (std::string_view(view.format) != "q" && std::string_view(view.format) != "l") ||
        static_cast<std::size_t>(view.len) != count * 8)
        return PyErr_Format(PyExc_ValueError, "out must hold %zu int64 items", count), nullptr;
    auto* out = static_cast<std::int64_t*>(view.buf);
    return invoke_unlocked<void>([&](Checkpoint& checkpoint) {
        std::vector<Position> positions(std::min(count, kBlock));
        std::vector<Move> words(positions.size());
        for (std::size_t first = 0; first < count; first += kBlock) {
            const std::size_t n = std::min(kBlock, count - first);
            read_positions(sfens, first, std::span<Position>(positions.data(), n), threads, checkpoint);
            for (std::size_t i = 0; i < n; ++i) {
                try {
                    words[i] = Move::from_usi(moves.views[first + i], positions[i].turn);
                } catch (const ValueError& e) {
                    throw ValueError("move " + std::to_string(first + i) + ": " + e.message());
                }
            }
            move_labels_batch(std::span<const Position>(positions.data(), n), std::span<const Move>(words.data(), n),
                              out + first, threads, checkpoint, first);
        }
    });
}

PyObject* move_label(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
    if (nargs != 2) return PyErr_SetString(PyExc_TypeError, "move_label(sfen, word)"), nullptr;
    Position position;
    if (!load_position(args[0], position)) return nullptr;
    std::uint16_t word = 0;
    if (!load_integer(args[1], word)) return nullptr;
    return run_guarded([&]() -> PyObject* {
        const Move move{word};
        if (!is_legal(position.board, position.turn, move))
            throw ValueError("move " + move.to_string() + " is not a legal move of the side to move");
        return PyLong_FromLong(velkorant::move_label(move, position.turn));
    });
}

PyObject* legal_labels(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
    if (nargs != 1) return PyErr_SetString(PyExc_TypeError, "legal_labels(sfen)"), nullptr;
    Position position;
    if (!load_position(args[0], position)) return nullptr;
    return run_guarded([&]() -> PyObject* {
        const std::vector<std::int64_t> labels = velkorant::legal_labels(position.board, position.turn);
        const auto bytes = static_cast<Py_ssize_t>(labels.size() * sizeof(std::int64_t));
        Ref array(PyByteArray_FromStringAndSize(nullptr, bytes));
        if (!array) return nullptr;
        if (bytes) std::memcpy(PyByteArray_AS_STRING(array.get()), labels.data(), static_cast<std::size_t>(bytes));
        return array.release();
    });
}

PyObject* legal_mask(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
    if (nargs != 2) return PyErr_SetString(PyExc_TypeError, "legal_mask(sfen, out)"), nullptr;
    Position position;
    if (!load_position(args[0], position)) return nullptr;
    const Buffer out(args[1], "out", '?', kMoveLabels);
    if (!out) return nullptr;
    return run_guarded([&]() -> PyObject* {
        const std::vector<std::int64_t> labels = velkorant::legal_labels(position.board, position.turn);
        bool* mask = out.data<bool>();
        std::fill_n(mask, kMoveLabels, false);
        for (const std::int64_t label : labels) mask[label] = true;
        Py_RETURN_NONE;
    });
}

template <auto F>
constexpr PyCFunction fastcall() {
    return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(F));
}

PyMethodDef functions[] = {
    {"features", fastcall<&features>(), METH_FASTCALL,
     "features(sfen, out1, out2, /)\n--\n\nBoth plane sets of a position, written into float32 buffers."},
    {"features_sfens", fastcall<&features_sfens>(), METH_FASTCALL,
     "features_sfens(sfens, out1, out2, threads, /)\n--\n\nBoth plane sets of every SFEN, on several threads."},
    {"labels_sfens", fastcall<&labels_sfens>(), METH_FASTCALL,
     "labels_sfens(sfens, moves, out, threads, /)\n--\n\nThe label of a legal USI move of each SFEN, into an int64 buffer."},
    {"move_label", fastcall<&move_label>(), METH_FASTCALL,
     "move_label(sfen, word, /)\n--\n\nThe label of a legal move, given by its move word."},
    {"legal_labels", fastcall<&legal_labels>(), METH_FASTCALL,
     "legal_labels(sfen, /)\n--\n\nThe labels of the legal moves, as int64 bytes."},
    {"legal_mask", fastcall<&legal_mask>(), METH_FASTCALL,
     "legal_mask(sfen, out, /)\n--\n\nWhich labels are those of legal moves, into a bool buffer."},
    {},
};

PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT, "velkorant._features", "The native network inputs and move labels of velkorant.data.", 0,
    functions, nullptr, nullptr, nullptr, nullptr,
};

}  // namespace
}  // namespace velkorant::python

PyMODINIT_FUNC PyInit__features() { return PyModule_Create(&velkorant::python::module_def); }

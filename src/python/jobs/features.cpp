// velkorant._features: the native network inputs and move labels under velkorant.data.
//
//   features(sfen, out1, out2)                   both plane sets of one position, into buffers
//   features_sfens(sfens, out1, out2, threads)   the same for many SFENs, without the interpreter lock
//   features_hcps(hcps, out1, out2, threads)     the same for packed positions (hcp, 32 bytes each)
//   labels_sfens(sfens, moves, out, threads)     the label of a legal USI move of each SFEN
//   labels_hcpe(hcps, moves16, out, threads)     the label of the move word of each hcpe record
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
#include "python/jobs/job.hpp"
#include "python/released.hpp"
#include "velkorant/features.hpp"
#include "velkorant/game.hpp"
#include "velkorant/legal.hpp"
#include "velkorant/packed.hpp"
#include "velkorant/parallel.hpp"

namespace velkorant::python {
namespace {

// The position of an SFEN, read and checked as a Game reads it, without the game.
Position position_of(std::string_view sfen) { return position_of_sfen(sfen); }

// The position of a SFEN argument; false with an exception set.
bool load_position(PyObject* obj, Position& out) {
    CasterFor<std::string_view> text;
    if (!text.load(obj)) return false;
    try {
        out = position_of(text.get());
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
    const job::Buffer out1(args[1], "out1", 'f', sizeof(float), kFeatures1Floats);
    if (!out1) return nullptr;
    const job::Buffer out2(args[2], "out2", 'f', sizeof(float), kFeatures2Floats);
    if (!out2) return nullptr;
    return run_guarded([&]() -> PyObject* {
        write_features(position.board, position.turn, out1.data<float>(), out2.data<float>());
        Py_RETURN_NONE;
    });
}

// How many SFENs are read into positions at a time: memory stays bounded however many there are.
constexpr std::size_t kBlock = 4096;

// Reads the positions first + i into positions[i] for i < positions.size(), on several threads:
// `position_at(j)` gives position j; a malformed one is a ValueError naming `what` and its index.
template <class PositionAt>
void read_positions(PositionAt&& position_at, const char* what, std::size_t first, std::span<Position> positions,
                    unsigned threads, Checkpoint& checkpoint) {
    parallel_for(positions.size(), threads, checkpoint, [&](std::size_t begin, std::size_t end) {
        for (std::size_t i = begin; i < end; ++i) {
            try {
                positions[i] = position_at(first + i);
            } catch (const ValueError& e) {
                throw ValueError(std::string(what) + " " + std::to_string(first + i) + ": " + e.message());
            }
        }
    });
}

// Both plane sets of `count` positions into out1 and out2 (args[1], args[2]), without the
// interpreter lock: each position is read and its planes written in one pass.
template <class PositionAt>
PyObject* features_of(std::size_t count, PositionAt&& position_at, const char* what, PyObject* const* args, unsigned threads) {
    const job::Buffer out1(args[1], "out1", 'f', sizeof(float), count * kFeatures1Floats);
    if (!out1) return nullptr;
    const job::Buffer out2(args[2], "out2", 'f', sizeof(float), count * kFeatures2Floats);
    if (!out2) return nullptr;
    return invoke_unlocked<void>([&](Checkpoint& checkpoint) {
        parallel_for(count, threads, checkpoint, [&](std::size_t begin, std::size_t end) {
            for (std::size_t i = begin; i < end; ++i) {
                Position position;
                try {
                    position = position_at(i);
                } catch (const ValueError& e) {
                    throw ValueError(std::string(what) + " " + std::to_string(i) + ": " + e.message());
                }
                write_features(position.board, position.turn, out1.data<float>() + i * kFeatures1Floats,
                               out2.data<float>() + i * kFeatures2Floats);
            }
        });
    });
}

PyObject* features_sfens(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
    if (nargs != 4) return PyErr_SetString(PyExc_TypeError, "features_sfens(sfens, out1, out2, threads)"), nullptr;
    job::Texts sfens;
    unsigned threads = 0;
    if (!sfens.load(args[0], "sfen") || !job::load_threads(args[3], threads)) return nullptr;
    return features_of(sfens.views.size(), [&](std::size_t i) { return position_of(sfens.views[i]); }, "sfen", args, threads);
}

// The bytes of `count` packed positions of 32 bytes (args[0]); false with an exception set.
bool packed_count(const job::Buffer& data, std::size_t& count) {
    if (!data) return false;
    if (data.size() % 32)
        return PyErr_Format(PyExc_ValueError, "%zu bytes are no whole number of 32-byte positions", data.size()), false;
    count = data.size() / 32;
    return true;
}

PyObject* features_hcps(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
    if (nargs != 4) return PyErr_SetString(PyExc_TypeError, "features_hcps(hcps, out1, out2, threads)"), nullptr;
    const job::Buffer hcps(args[0], false);
    std::size_t count = 0;
    unsigned threads = 0;
    if (!packed_count(hcps, count) || !job::load_threads(args[3], threads)) return nullptr;
    const unsigned char* bytes = hcps.data();
    return features_of(count, [&](std::size_t i) { return unpack_position(bytes + 32 * i, Packing::Hcp); }, "position",
                       args, threads);
}

// labels_hcpe(hcps, moves16, out, threads): the label of each hcpe record's move word.
PyObject* labels_hcpe(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
    if (nargs != 4) return PyErr_SetString(PyExc_TypeError, "labels_hcpe(hcps, moves16, out, threads)"), nullptr;
    const job::Buffer hcps(args[0], false), words(args[1], false);
    std::size_t count = 0;
    unsigned threads = 0;
    if (!packed_count(hcps, count) || !words || !job::load_threads(args[3], threads)) return nullptr;
    if (words.size() != 2 * count)
        return PyErr_Format(PyExc_ValueError, "%zu bytes of move words for %zu positions: two a position", words.size(), count),
               nullptr;
    const job::Buffer labels(args[2], "out", 'q', 8, count);
    if (!labels) return nullptr;
    return invoke_unlocked<void>([&](Checkpoint& checkpoint) {
        parallel_for(count, threads, checkpoint, [&](std::size_t begin, std::size_t end) {
            for (std::size_t i = begin; i < end; ++i) {
                try {
                    const Position p = unpack_position(hcps.data() + 32 * i, Packing::Hcp);
                    std::uint16_t word;
                    std::memcpy(&word, words.data() + 2 * i, 2);
                    labels.data<std::int64_t>()[i] = velkorant::move_label(move_from_move16(p.board, p.turn, word), p.turn);
                } catch (const ValueError& e) {
                    throw ValueError("position " + std::to_string(i) + ": " + e.message());
                }
            }
        });
    });
}

PyObject* labels_sfens(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
    if (nargs != 4) return PyErr_SetString(PyExc_TypeError, "labels_sfens(sfens, moves, out, threads)"), nullptr;
    job::Texts sfens, moves;
    if (!sfens.load(args[0], "sfen") || !moves.load(args[1], "move")) return nullptr;
    const std::size_t count = sfens.views.size();
    if (moves.views.size() != count)
        return PyErr_Format(PyExc_ValueError, "%zu moves for %zu positions: one move a position", moves.views.size(), count),
               nullptr;
    unsigned threads = 0;
    if (!job::load_threads(args[3], threads)) return nullptr;
    const job::Buffer labels(args[2], "out", 'q', 8, count);
    if (!labels) return nullptr;
    auto* out = labels.data<std::int64_t>();
    return invoke_unlocked<void>([&](Checkpoint& checkpoint) {
        std::vector<Position> positions(std::min(count, kBlock));
        std::vector<Move> words(positions.size());
        for (std::size_t first = 0; first < count; first += kBlock) {
            const std::size_t n = std::min(kBlock, count - first);
            read_positions([&](std::size_t i) { return position_of(sfens.views[i]); }, "sfen", first,
                           std::span<Position>(positions.data(), n), threads, checkpoint);
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
    const job::Buffer out(args[1], "out", '?', 1, kMoveLabels);
    if (!out) return nullptr;
    return run_guarded([&]() -> PyObject* {
        const std::vector<std::int64_t> labels = velkorant::legal_labels(position.board, position.turn);
        bool* mask = out.data<bool>();
        std::fill_n(mask, kMoveLabels, false);
        for (const std::int64_t label : labels) mask[label] = true;
        Py_RETURN_NONE;
    });
}

PyMethodDef functions[] = {
    {"features", job::fastcall<&features>(), METH_FASTCALL,
     "features(sfen, out1, out2, /)\n--\n\nBoth plane sets of a position, written into float32 buffers."},
    {"features_sfens", job::fastcall<&features_sfens>(), METH_FASTCALL,
     "features_sfens(sfens, out1, out2, threads, /)\n--\n\nBoth plane sets of every SFEN, on several threads."},
    {"features_hcps", job::fastcall<&features_hcps>(), METH_FASTCALL,
     "features_hcps(hcps, out1, out2, threads, /)\n--\n\nBoth plane sets of every packed position (32 bytes each), on several threads."},
    {"labels_hcpe", job::fastcall<&labels_hcpe>(), METH_FASTCALL,
     "labels_hcpe(hcps, moves16, out, threads, /)\n--\n\nThe label of each position's hcpe move word, into an int64 buffer."},
    {"labels_sfens", job::fastcall<&labels_sfens>(), METH_FASTCALL,
     "labels_sfens(sfens, moves, out, threads, /)\n--\n\nThe label of a legal USI move of each SFEN, into an int64 buffer."},
    {"move_label", job::fastcall<&move_label>(), METH_FASTCALL,
     "move_label(sfen, word, /)\n--\n\nThe label of a legal move, given by its move word."},
    {"legal_labels", job::fastcall<&legal_labels>(), METH_FASTCALL,
     "legal_labels(sfen, /)\n--\n\nThe labels of the legal moves, as int64 bytes."},
    {"legal_mask", job::fastcall<&legal_mask>(), METH_FASTCALL,
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

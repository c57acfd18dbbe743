// velkorant._records: the native readers and writers under velkorant.records.
//
//   read(text, format, all) -> list of games      (text: str, format: "csa", "kif", ...)
//   write(format, game) -> str
//
// A game read crosses as a tuple (headers, black, white, start, ending, winner, first_line,
// tree): headers a list of (key, value) pairs, ending a word or None, winner 0 (Black), 1
// (White), 2 (a draw) or None, and tree a Tree: the moves stay native until they are asked for
// (Tree.main() the main line in USI, Tree.nodes() every node), so that reading a corpus makes a
// handful of Python objects a game, not several a move. A game to write is the same tuple
// without first_line, its tree a Tree or (parents, moves, comments, times): one parent and one
// USI move a node, the root first (parent -1, move ""), comments and times dicts by node index.
// Parsing runs without the interpreter lock. A record that cannot be read raises RecordError (a
// ValueError) with `line` and `ply` attributes.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <unordered_set>
#include <vector>

#include "cp932.hpp"  // generated from Python's own codec
#include "python/casters.hpp"
#include "python/jobs/job.hpp"
#include "python/released.hpp"
#include "velkorant/dataset.hpp"
#include "velkorant/packed.hpp"
#include "velkorant/record.hpp"

namespace velkorant::python {
namespace {

PyObject* record_error_type = nullptr;  // velkorant.records.RecordError, made at import

using Reader = std::vector<GameRecord> (*)(std::string_view, bool, Checkpoint*);
using Writer = std::string (*)(const GameRecord&);

struct Format {
    std::string_view name;
    Reader read;
    Writer write;
};

constexpr Format kFormats[] = {
    {"csa", &read_csa, &write_csa}, {"kif", &read_kif, &write_kif}, {"ki2", &read_ki2, &write_ki2},
    {"jkf", &read_jkf, &write_jkf}, {"usi", &read_usi, &write_usi}, {"sfen", &read_sfen, &write_sfen},
};

// Thrown where a Python call already set its exception.
struct PythonError {};

const Format* format_named(PyObject* name) {
    CasterFor<std::string_view> text;
    if (!text.load(name)) return nullptr;
    for (const Format& f : kFormats)
        if (f.name == text.get()) return &f;
    PyErr_Format(PyExc_ValueError, "unknown record format %R: csa, kif, ki2, jkf, usi or sfen", name);
    return nullptr;
}

// Raises RecordError for the error in flight, or translates any other.
PyObject* raise_record_error() {
    try {
        throw;
    } catch (const RecordError& e) {
        Ref text(PyUnicode_DecodeUTF8(e.message().data(), static_cast<Py_ssize_t>(e.message().size()), "replace"));
        Ref error(text ? PyObject_CallOneArg(record_error_type, text.get()) : nullptr);
        Ref line(PyLong_FromSize_t(e.line())), ply(PyLong_FromLongLong(e.ply()));
        if (!error || !line || !ply || PyObject_SetAttrString(error.get(), "line", line.get()) < 0 ||
            PyObject_SetAttrString(error.get(), "ply", ply.get()) < 0)
            return nullptr;
        PyErr_SetObject(record_error_type, error.get());
    } catch (...) {
        set_python_error_from_current_exception();
    }
    return nullptr;
}

PyObject* text_of(std::string_view s) { return Caster<std::string_view>::cast(s); }

// ---------------------------------------------------------------------------------------------
// Tree: the moves of a record read, kept native.

PyTypeObject* tree_type = nullptr;

GameRecord& record_in(PyObject* tree) { return job::held<GameRecord>(tree); }

PyObject* make_tree(GameRecord&& record) { return job::make_held<GameRecord>(tree_type, std::move(record)); }

// The USI text of each node's move, as new str objects (the root's "").
std::vector<Ref> usi_texts(const GameRecord& g) {
    std::vector<Ref> out;
    out.reserve(g.nodes.size());
    for (std::size_t i = 0; i < g.nodes.size(); ++i) {
        out.emplace_back(text_of(i ? g.nodes[i].move.usi() : std::string()));
        if (!out.back()) return {};
    }
    return out;
}

PyObject* tree_main(PyObject* self, PyObject*) {
    return run_guarded([&]() -> PyObject* {
        const GameRecord& g = record_in(self);
        const std::vector<std::int32_t> line = g.main_line();
        Ref list(PyList_New(static_cast<Py_ssize_t>(line.size())));
        if (!list) return nullptr;
        for (std::size_t i = 0; i < line.size(); ++i) {
            PyObject* move = text_of(g.nodes[static_cast<std::size_t>(line[i])].move.usi());
            if (!move) return nullptr;
            PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), move);
        }
        return list.release();
    });
}

PyObject* tree_nodes(PyObject* self, PyObject*) {
    return run_guarded([&]() -> PyObject* {
        const GameRecord& g = record_in(self);
        const std::size_t n = g.nodes.size();
        Ref parents(PyList_New(static_cast<Py_ssize_t>(n))), moves(PyList_New(static_cast<Py_ssize_t>(n)));
        Ref comments(PyDict_New()), times(PyDict_New());
        if (!parents || !moves || !comments || !times) return nullptr;
        std::vector<Ref> usi = usi_texts(g);
        if (usi.size() != n) return nullptr;
        for (std::size_t i = 0; i < n; ++i) {
            const RecordNode& node = g.nodes[i];
            PyObject* parent = PyLong_FromLong(node.parent);
            if (!parent) return nullptr;
            PyList_SET_ITEM(parents.get(), static_cast<Py_ssize_t>(i), parent);
            PyList_SET_ITEM(moves.get(), static_cast<Py_ssize_t>(i), usi[i].release());
            if (node.comment.empty() && !node.time) continue;
            Ref key(PyLong_FromSize_t(i));
            if (!key) return nullptr;
            if (!node.comment.empty()) {
                Ref comment(text_of(node.comment));
                if (!comment || PyDict_SetItem(comments.get(), key.get(), comment.get()) < 0) return nullptr;
            }
            if (node.time) {
                Ref time(PyFloat_FromDouble(*node.time));
                if (!time || PyDict_SetItem(times.get(), key.get(), time.get()) < 0) return nullptr;
            }
        }
        return PyTuple_Pack(4, parents.get(), moves.get(), comments.get(), times.get());
    });
}

PyObject* tree_len(PyObject* self, PyObject*) { return PyLong_FromSize_t(record_in(self).nodes.size()); }

PyMethodDef tree_methods[] = {
    {"main", &tree_main, METH_NOARGS, "main($self, /)\n--\n\nThe main line, in USI."},
    {"nodes", &tree_nodes, METH_NOARGS,
     "nodes($self, /)\n--\n\nEvery node: (parents, moves in USI, comments by node, times by node), the root first."},
    {"size", &tree_len, METH_NOARGS, "size($self, /)\n--\n\nHow many nodes, the root included."},
    {},
};

PyType_Slot tree_slots[] = {
    {Py_tp_dealloc, reinterpret_cast<void*>(&job::held_dealloc<GameRecord>)},
    {Py_tp_methods, tree_methods},
    {Py_tp_doc, const_cast<char*>("The moves of a record read, kept native until they are asked for.")},
    {0, nullptr},
};

PyType_Spec tree_spec = {"velkorant._records.Tree", sizeof(job::Held<GameRecord>), 0,
                         Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE | Py_TPFLAGS_DISALLOW_INSTANTIATION,
                         tree_slots};

// ---------------------------------------------------------------------------------------------
// Reading

PyObject* game_tuple(GameRecord&& g) {
    Ref headers(PyList_New(static_cast<Py_ssize_t>(g.headers.size())));
    if (!headers) return nullptr;
    for (std::size_t i = 0; i < g.headers.size(); ++i) {
        PyObject* pair = tuple_of(std::string_view(g.headers[i].first), std::string_view(g.headers[i].second));
        if (!pair) return nullptr;
        PyList_SET_ITEM(headers.get(), static_cast<Py_ssize_t>(i), pair);
    }
    Ref ending(g.ending.empty() ? Ref::borrowed(Py_None) : Ref(text_of(g.ending)));
    Ref winner(g.winner == Winner::Unknown ? Ref::borrowed(Py_None) : Ref(PyLong_FromLong(static_cast<long>(g.winner))));
    Ref black(text_of(g.black)), white(text_of(g.white)), start(text_of(g.start));
    Ref first_line(PyLong_FromSize_t(g.first_line));
    if (!ending || !winner || !black || !white || !start || !first_line) return nullptr;
    Ref tree(make_tree(std::move(g)));
    if (!tree) return nullptr;
    return PyTuple_Pack(8, headers.get(), black.get(), white.get(), start.get(), ending.get(), winner.get(),
                        first_line.get(), tree.get());
}

// ---------------------------------------------------------------------------------------------
// Decoding: the bytes of a file in UTF-8 or in CP932 (Shift_JIS as Windows writes it), exactly
// as Python's strict codecs decode them.

// Writes the UTF-8 form of a character of the Basic Multilingual Plane at `out`.
char* put_utf8(char* out, char32_t c) {
    if (c < 0x80) {
        *out++ = static_cast<char>(c);
    } else if (c < 0x800) {
        *out++ = static_cast<char>(0xC0 | (c >> 6));
        *out++ = static_cast<char>(0x80 | (c & 0x3F));
    } else {
        *out++ = static_cast<char>(0xE0 | (c >> 12));
        *out++ = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        *out++ = static_cast<char>(0x80 | (c & 0x3F));
    }
    return out;
}

// The end of the run of ASCII bytes of `data` from `i` on, eight bytes at a time.
std::size_t ascii_end(std::string_view data, std::size_t i) {
    for (std::uint64_t word; i + 8 <= data.size(); i += 8) {
        std::memcpy(&word, data.data() + i, 8);
        if (word & 0x8080808080808080u) break;
    }
    while (i < data.size() && static_cast<unsigned char>(data[i]) < 0x80) ++i;
    return i;
}

// `data` as UTF-8 in `out`, or the offset of the first byte that is no character. A character
// of one or two bytes takes at most three in UTF-8.
std::optional<std::size_t> from_cp932(std::string_view data, std::string& out) {
    out.resize(data.size() * 3);
    char* to = out.data();
    for (std::size_t i = 0; i < data.size(); ++i) {
        const auto b = static_cast<unsigned char>(data[i]);
        if (b < 0x80) {
            const std::size_t end = ascii_end(data, i + 1);
            std::memcpy(to, data.data() + i, end - i);
            to += end - i;
            i = end - 1;
            continue;
        }
        const std::uint16_t one = cp932::kSingle[b];
        if (one == cp932::kNone) return i;
        if (one != cp932::kLead) {
            to = put_utf8(to, one);
            continue;
        }
        const auto t = i + 1 < data.size() ? static_cast<unsigned char>(data[i + 1]) : 0u;
        const std::uint16_t two = t >= 0x40 ? cp932::kDouble[(b - 0x81u) * 192u + (t - 0x40u)] : cp932::kNone;
        if (two == cp932::kNone) return i;
        to = put_utf8(to, two);
        ++i;
    }
    out.resize(static_cast<std::size_t>(to - out.data()));
    return std::nullopt;
}

// The offset of the first byte of `data` that is not part of a UTF-8 character (no overlong
// forms, no surrogates, nothing past U+10FFFF), if any.
std::optional<std::size_t> invalid_utf8(std::string_view data) {
    const auto at = [&](std::size_t i) { return i < data.size() ? static_cast<unsigned char>(data[i]) : 0u; };
    for (std::size_t i = 0; i < data.size();) {
        const unsigned b = at(i);
        if (b < 0x80) {
            i = ascii_end(data, i + 1);
            continue;
        }
        std::size_t n;
        unsigned low = 0x80, high = 0xBF;  // the range of the second byte
        if (b >= 0xC2 && b <= 0xDF) n = 2;
        else if (b >= 0xE0 && b <= 0xEF) n = 3, low = b == 0xE0 ? 0xA0 : 0x80, high = b == 0xED ? 0x9F : 0xBF;
        else if (b >= 0xF0 && b <= 0xF4) n = 4, low = b == 0xF0 ? 0x90 : 0x80, high = b == 0xF4 ? 0x8F : 0xBF;
        else return i;
        if (at(i + 1) < low || at(i + 1) > high) return i;
        for (std::size_t k = 2; k < n; ++k)
            if ((at(i + k) & 0xC0) != 0x80) return i;
        i += n;
    }
    return std::nullopt;
}

// The text of a file's bytes in the first of `encodings` ("utf-8", "cp932") that decodes them
// whole; a RecordError naming the line of the first bad byte when none does.
std::string_view decode(std::string_view data, const std::vector<std::string>& encodings, std::string& storage) {
    std::optional<std::size_t> first_bad;
    for (const std::string& encoding : encodings) {
        std::optional<std::size_t> bad = encoding == "cp932" ? from_cp932(data, storage) : invalid_utf8(data);
        if (!bad) return encoding == "cp932" ? std::string_view(storage) : data;
        if (!first_bad) first_bad = bad;
    }
    std::string names;
    for (const std::string& encoding : encodings) names += (names.empty() ? "" : " nor ") + encoding;
    const std::size_t at = first_bad.value_or(0);
    constexpr char hex[] = "0123456789abcdef";
    const auto byte = static_cast<unsigned char>(data[at]);
    throw RecordError(static_cast<std::size_t>(std::count(data.begin(), data.begin() + static_cast<std::ptrdiff_t>(at), '\n')) + 1, 0,
                      std::string("byte 0x") + hex[byte >> 4] + hex[byte & 15] + " is not in " + names);
}

// decode(data, encodings) -> str: what read() reads from bytes.
PyObject* decode_bytes(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
    if (nargs != 2 || !PyBytes_Check(args[0])) return PyErr_SetString(PyExc_TypeError, "decode(data: bytes, encodings)"), nullptr;
    std::vector<std::string> encodings;
    Ref names(PySequence_Fast(args[1], "encodings are a sequence"));
    if (!names) return nullptr;
    for (Py_ssize_t i = 0; i < PySequence_Fast_GET_SIZE(names.get()); ++i) {
        CasterFor<std::string_view> name;
        if (!name.load(PySequence_Fast_GET_ITEM(names.get(), i))) return nullptr;
        encodings.emplace_back(name.get());
    }
    const std::string_view data(PyBytes_AS_STRING(args[0]), static_cast<std::size_t>(PyBytes_GET_SIZE(args[0])));
    try {
        std::string storage;
        return to_python(decode(data, encodings, storage));
    } catch (...) {
        return raise_record_error();
    }
}

// read(text, format, all[, encodings]): text a str, or bytes decoded natively by the first of
// `encodings` that fits.
PyObject* read(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
    if (nargs != 3 && nargs != 4) return PyErr_SetString(PyExc_TypeError, "read(text, format, all[, encodings])"), nullptr;
    std::string_view text;
    std::vector<std::string> encodings;
    if (PyBytes_Check(args[0])) {
        text = std::string_view(PyBytes_AS_STRING(args[0]), static_cast<std::size_t>(PyBytes_GET_SIZE(args[0])));
        encodings = {"utf-8", "cp932"};
        if (nargs == 4) {
            Ref names(PySequence_Fast(args[3], "encodings are a sequence"));
            if (!names) return nullptr;
            encodings.clear();
            for (Py_ssize_t i = 0; i < PySequence_Fast_GET_SIZE(names.get()); ++i) {
                CasterFor<std::string_view> name;
                if (!name.load(PySequence_Fast_GET_ITEM(names.get(), i))) return nullptr;
                if (name.get() != "utf-8" && name.get() != "cp932")
                    return PyErr_Format(PyExc_ValueError, "records are decoded natively from utf-8 or cp932, not %R",
                                        PySequence_Fast_GET_ITEM(names.get(), i));
                encodings.emplace_back(name.get());
            }
        }
    } else {
        CasterFor<std::string_view> str;
        if (!str.load(args[0])) return nullptr;
        text = str.get();
    }
    const Format* format = format_named(args[1]);
    if (!format) return nullptr;
    const int all = PyObject_IsTrue(args[2]);
    if (all < 0) return nullptr;
    // Decoded and read without the interpreter lock; the str or bytes stays alive in the
    // caller's frame.
    return run_unlocked(
        [&](Checkpoint& checkpoint) {
            std::string storage;
            const std::string_view utf8 = encodings.empty() ? text : decode(text, encodings, storage);
            return format->read(utf8, all != 0, &checkpoint);
        },
        [](std::vector<GameRecord>&& games) -> PyObject* {
            Ref list(PyList_New(static_cast<Py_ssize_t>(games.size())));
            if (!list) return nullptr;
            for (std::size_t i = 0; i < games.size(); ++i) {
                PyObject* game = game_tuple(std::move(games[i]));
                if (!game) return nullptr;
                PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), game);
            }
            return list.release();
        },
        [] { raise_record_error(); });
}

// ---------------------------------------------------------------------------------------------
// Training rows: rows(data, format, encodings, layout, min_moves, min_rating, endings)
//   -> (rows, plies, games, counts, bad)
// rows the records of the layout ("hcpe" or "psv") one after another, plies and games each row's
// move number and game number in the file (int32 each, native order), counts (games read, games
// converted, too short, rated too low, other ending, positions with no packing) and bad a list of
// (line, why). Decoding, reading, replaying and packing run without the interpreter lock.

bool load_text(PyObject* obj, std::string& out);

// A sequence of str as strings.
bool load_texts(PyObject* sequence, std::vector<std::string>& out) {
    Ref items(PySequence_Fast(sequence, "expected a sequence of str"));
    if (!items) return false;
    for (Py_ssize_t i = 0; i < PySequence_Fast_GET_SIZE(items.get()); ++i) {
        if (!load_text(PySequence_Fast_GET_ITEM(items.get(), i), out.emplace_back())) return false;
    }
    return true;
}

PyObject* int32_bytes(const std::vector<std::int32_t>& values) {
    return PyBytes_FromStringAndSize(reinterpret_cast<const char*>(values.data()),
                                     static_cast<Py_ssize_t>(values.size() * sizeof(std::int32_t)));
}

PyObject* rows_result(Rows&& r) {
    Ref bytes(PyBytes_FromStringAndSize(r.bytes.data(), static_cast<Py_ssize_t>(r.bytes.size())));
    Ref plies(int32_bytes(r.plies)), games(int32_bytes(r.games));
    Ref counts(Py_BuildValue("(LLLLLL)", static_cast<long long>(r.games_read), static_cast<long long>(r.games_converted),
                             static_cast<long long>(r.too_short), static_cast<long long>(r.low_rating),
                             static_cast<long long>(r.other_ending), static_cast<long long>(r.unpackable)));
    Ref bad(PyList_New(static_cast<Py_ssize_t>(r.bad.size())));
    if (!bytes || !plies || !games || !counts || !bad) return nullptr;
    for (std::size_t i = 0; i < r.bad.size(); ++i) {
        Ref why(PyUnicode_DecodeUTF8(r.bad[i].why.data(), static_cast<Py_ssize_t>(r.bad[i].why.size()), "replace"));
        PyObject* item = why ? Py_BuildValue("(nO)", static_cast<Py_ssize_t>(r.bad[i].line), why.get()) : nullptr;
        if (!item) return nullptr;
        PyList_SET_ITEM(bad.get(), static_cast<Py_ssize_t>(i), item);
    }
    return PyTuple_Pack(5, bytes.get(), plies.get(), games.get(), counts.get(), bad.get());
}

PyObject* rows(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
    if (nargs != 7)
        return PyErr_SetString(PyExc_TypeError, "rows(data, format, encodings, layout, min_moves, min_rating, endings)"),
               nullptr;
    std::string_view text;
    if (PyBytes_Check(args[0])) {
        text = std::string_view(PyBytes_AS_STRING(args[0]), static_cast<std::size_t>(PyBytes_GET_SIZE(args[0])));
    } else {
        CasterFor<std::string_view> str;
        if (!str.load(args[0])) return nullptr;
        text = str.get();
    }
    const Format* format = format_named(args[1]);
    if (!format) return nullptr;
    std::vector<std::string> encodings;
    if (PyBytes_Check(args[0])) {
        if (!load_texts(args[2], encodings)) return nullptr;
        for (const std::string& name : encodings)
            if (name != "utf-8" && name != "cp932")
                return PyErr_Format(PyExc_ValueError, "records are decoded natively from utf-8 or cp932, not '%s'",
                                    name.c_str());
        if (encodings.empty()) return PyErr_SetString(PyExc_ValueError, "no encoding to decode the bytes with"), nullptr;
    }
    CasterFor<std::string_view> layout_name;
    if (!layout_name.load(args[3])) return nullptr;
    if (layout_name.get() != "hcpe" && layout_name.get() != "psv")
        return PyErr_Format(PyExc_ValueError, "unknown row layout %R: hcpe or psv", args[3]);
    const RowLayout layout = layout_name.get() == "hcpe" ? RowLayout::Hcpe : RowLayout::Psv;
    RowFilter filter;
    filter.min_moves = PyLong_AsLongLong(args[4]);
    if (filter.min_moves == -1 && PyErr_Occurred()) return nullptr;
    if (args[5] != Py_None) {
        const double rating = PyFloat_AsDouble(args[5]);
        if (rating == -1.0 && PyErr_Occurred()) return nullptr;
        filter.min_rating = rating;
    }
    if (args[6] != Py_None && !load_texts(args[6], filter.endings)) return nullptr;
    const bool csa = format->name == "csa";
    // The bytes or str stay alive in the caller's frame while the lock is released.
    return run_unlocked(
        [&](Checkpoint& checkpoint) {
            std::string storage;
            Rows r;
            std::string_view utf8 = text;
            try {
                if (!encodings.empty()) utf8 = decode(text, encodings, storage);
            } catch (const RecordError& e) {
                r.games_read = 1;
                r.bad.push_back({e.line(), e.why()});
                return r;
            }
            return rows_of_text(utf8, format->read, csa, filter, layout, &checkpoint);
        },
        [](Rows&& r) { return rows_result(std::move(r)); }, [] { raise_record_error(); });
}

// ---------------------------------------------------------------------------------------------
// Seen: the positions already written, for a dataset that holds each position once.

PyTypeObject* seen_type = nullptr;

struct PositionHash {
    std::size_t operator()(const PackedPosition& p) const {
        std::uint64_t h = 0x9E3779B97F4A7C15u;
        for (std::size_t i = 0; i < p.size(); i += 8) {
            std::uint64_t word;
            std::memcpy(&word, p.data() + i, 8);
            h = (h ^ word) * 0xBF58476D1CE4E5B9u;
            h ^= h >> 31;
        }
        return static_cast<std::size_t>(h);
    }
};

using PositionSet = std::unordered_set<PackedPosition, PositionHash>;

PositionSet& positions_in(PyObject* seen) { return job::held<PositionSet>(seen); }

PyObject* seen_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    if (PyTuple_GET_SIZE(args) != 0 || (kwargs && PyDict_GET_SIZE(kwargs) != 0))
        return PyErr_SetString(PyExc_TypeError, "Seen() takes no arguments"), nullptr;
    return job::make_held<PositionSet>(type);
}

// fresh(rows, size) -> bytes: for each row of `size` bytes, 1 when the position of its first 32
// bytes was not seen before (it is now), else 0.
PyObject* seen_fresh(PyObject* self, PyObject* const* args, Py_ssize_t nargs) {
    if (nargs != 2) return PyErr_SetString(PyExc_TypeError, "fresh(rows, size)"), nullptr;
    const Py_ssize_t size = PyLong_AsSsize_t(args[1]);
    if (size == -1 && PyErr_Occurred()) return nullptr;
    if (size < 32) return PyErr_Format(PyExc_ValueError, "a row holds a position: at least 32 bytes, not %zd", size);
    job::Buffer rows(args[0], false);
    if (!rows) return nullptr;
    if (rows.size() % static_cast<std::size_t>(size))
        return PyErr_Format(PyExc_ValueError, "%zu bytes are no whole number of rows of %zd", rows.size(), size);
    const std::size_t count = rows.size() / static_cast<std::size_t>(size);
    Ref mask(PyBytes_FromStringAndSize(nullptr, static_cast<Py_ssize_t>(count)));
    if (!mask) return nullptr;
    char* out = PyBytes_AS_STRING(mask.get());
    PositionSet& seen = positions_in(self);
    return run_guarded([&]() -> PyObject* {
        PackedPosition key;
        const auto key_of = [&](std::size_t i) {
            std::memcpy(key.data(), rows.data() + i * static_cast<std::size_t>(size), key.size());
            return key;
        };
        std::size_t i = 0;
        try {
            for (; i < count; ++i) out[i] = seen.insert(key_of(i)).second ? 1 : 0;
        } catch (...) {  // out of memory: the set as it was
            for (std::size_t j = 0; j < i; ++j)
                if (out[j]) seen.erase(key_of(j));
            throw;
        }
        return mask.release();
    });
}

PyObject* seen_len(PyObject* self, PyObject*) { return PyLong_FromSize_t(positions_in(self).size()); }

PyMethodDef seen_methods[] = {
    {"fresh", job::fastcall<&seen_fresh>(), METH_FASTCALL,
     "fresh($self, rows, size, /)\n--\n\nFor each row of `size` bytes, 1 when its position (its first 32 bytes) is new, else 0."},
    {"size", &seen_len, METH_NOARGS, "size($self, /)\n--\n\nHow many positions were seen."},
    {},
};

PyType_Slot seen_slots[] = {
    {Py_tp_new, reinterpret_cast<void*>(&seen_new)},
    {Py_tp_dealloc, reinterpret_cast<void*>(&job::held_dealloc<PositionSet>)},
    {Py_tp_methods, seen_methods},
    {Py_tp_doc, const_cast<char*>("Seen()\n--\n\nThe positions of a dataset written so far, each once.")},
    {0, nullptr},
};

PyType_Spec seen_spec = {"velkorant._records.Seen", sizeof(job::Held<PositionSet>), 0,
                         Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE, seen_slots};

// ---------------------------------------------------------------------------------------------
// Writing

// A str as UTF-8, or false with TypeError set.
bool load_text(PyObject* obj, std::string& out) {
    CasterFor<std::string_view> text;
    if (!text.load(obj)) return false;
    out = std::string(text.get());
    return true;
}

// The nodes of (parents, moves, comments, times), every move played on its parent's position.
void read_nodes(PyObject* nodes, GameRecord& g) {
    if (!PyTuple_Check(nodes) || PyTuple_GET_SIZE(nodes) != 4) throw TypeError("a tree is (parents, moves, comments, times)");
    PyObject* parents = PyTuple_GET_ITEM(nodes, 0);
    PyObject* moves = PyTuple_GET_ITEM(nodes, 1);
    PyObject* comments = PyTuple_GET_ITEM(nodes, 2);
    PyObject* times = PyTuple_GET_ITEM(nodes, 3);
    if (!PyList_Check(parents) || !PyList_Check(moves) || !PyDict_Check(comments) || !PyDict_Check(times))
        throw TypeError("a tree is (list, list, dict, dict)");
    const Py_ssize_t n = PyList_GET_SIZE(parents);
    if (n < 1 || PyList_GET_SIZE(moves) != n) throw ValueError("one parent and one move a node, the root first");
    std::vector<Game> positions;  // the position after each node
    positions.reserve(static_cast<std::size_t>(n));
    positions.emplace_back(g.start);
    std::string usi;
    for (Py_ssize_t i = 1; i < n; ++i) {
        const long parent = PyLong_AsLong(PyList_GET_ITEM(parents, i));
        if (parent == -1 && PyErr_Occurred()) throw PythonError{};
        if (parent < 0 || parent >= i) throw ValueError("node " + std::to_string(i) + ": its parent does not come first");
        if (!load_text(PyList_GET_ITEM(moves, i), usi)) throw PythonError{};
        Game game = positions[static_cast<std::size_t>(parent)];
        try {
            g.add(static_cast<std::int32_t>(parent), game.push_usi(usi));
        } catch (const ValueError& e) {
            throw ValueError("node " + std::to_string(i) + " (ply " + std::to_string(game.ply() - Game(g.start).ply() + 1) +
                             "): " + e.message());
        }
        positions.push_back(std::move(game));
    }
    PyObject *key, *value;
    for (Py_ssize_t pos = 0; PyDict_Next(comments, &pos, &key, &value);) {
        const Py_ssize_t i = PyLong_AsSsize_t(key);
        if (i < 0 || i >= n) throw ValueError("a comment of no node");
        if (!load_text(value, g.nodes[static_cast<std::size_t>(i)].comment)) throw PythonError{};
    }
    for (Py_ssize_t pos = 0; PyDict_Next(times, &pos, &key, &value);) {
        const Py_ssize_t i = PyLong_AsSsize_t(key);
        if (i < 0 || i >= n) throw ValueError("a time of no node");
        const double seconds = PyFloat_AsDouble(value);
        if (seconds == -1.0 && PyErr_Occurred()) throw PythonError{};
        g.nodes[static_cast<std::size_t>(i)].time = seconds;
    }
}

// The record a game tuple describes: (headers, black, white, start, ending, winner, tree).
void read_game(PyObject* game, GameRecord& g) {
    if (!PyTuple_Check(game) || PyTuple_GET_SIZE(game) != 7)
        throw TypeError("a game is (headers, black, white, start, ending, winner, tree)");
    PyObject* const* item = &PyTuple_GET_ITEM(game, 0);
    if (!PyList_Check(item[0])) throw TypeError("headers are a list of (key, value)");
    for (Py_ssize_t i = 0; i < PyList_GET_SIZE(item[0]); ++i) {
        PyObject* pair = PyList_GET_ITEM(item[0], i);
        if (!PyTuple_Check(pair) || PyTuple_GET_SIZE(pair) != 2) throw TypeError("a header is (key, value)");
        auto& [key, value] = g.headers.emplace_back();
        if (!load_text(PyTuple_GET_ITEM(pair, 0), key) || !load_text(PyTuple_GET_ITEM(pair, 1), value))
            throw PythonError{};
    }
    if (!load_text(item[1], g.black) || !load_text(item[2], g.white) || !load_text(item[3], g.start))
        throw PythonError{};
    if (item[4] != Py_None && !load_text(item[4], g.ending)) throw PythonError{};
    if (item[5] != Py_None) {
        const long winner = PyLong_AsLong(item[5]);
        if (winner == -1 && PyErr_Occurred()) throw PythonError{};
        if (winner < 0 || winner > 2) throw ValueError("a winner is 0, 1 or 2");
        g.winner = static_cast<Winner>(winner);
    }
    if (Py_TYPE(item[6]) == tree_type && record_in(item[6]).start == g.start) {
        g.nodes = record_in(item[6]).nodes;  // read and checked already, on this start
        return;
    }
    if (Py_TYPE(item[6]) == tree_type) {
        Ref nodes(tree_nodes(item[6], nullptr));
        if (!nodes) throw PythonError{};
        return read_nodes(nodes.get(), g);
    }
    read_nodes(item[6], g);
}

PyObject* write(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
    if (nargs != 2) return PyErr_SetString(PyExc_TypeError, "write(format, game)"), nullptr;
    const Format* format = format_named(args[0]);
    if (!format) return nullptr;
    return run_guarded([&]() -> PyObject* {
        GameRecord g;
        g.nodes.clear();
        g.nodes.push_back(RecordNode{});
        try {
            read_game(args[1], g);
        } catch (const PythonError&) {
            return nullptr;
        }
        return to_python(format->write(g));
    });
}

PyMethodDef functions[] = {
    {"read", job::fastcall<&read>(), METH_FASTCALL,
     "read(text, format, all, /)\n--\n\nThe games of a record text, as tuples."},
    {"decode", job::fastcall<&decode_bytes>(), METH_FASTCALL,
     "decode(data, encodings, /)\n--\n\nThe text of bytes in the first of the encodings (utf-8, cp932) that fits."},
    {"rows", job::fastcall<&rows>(), METH_FASTCALL,
     "rows(data, format, encodings, layout, min_moves, min_rating, endings, /)\n--\n\n"
     "The training rows of a file's games: (rows, plies, games, counts, bad)."},
    {"write", job::fastcall<&write>(), METH_FASTCALL,
     "write(format, game, /)\n--\n\nA game tuple as record text."},
    {},
};

PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT, "velkorant._records", "The native readers and writers of velkorant.records.", 0,
    functions, nullptr, nullptr, nullptr, nullptr,
};

PyObject* init() {
    Ref module(PyModule_Create(&module_def));
    if (!module) return nullptr;
    if (!record_error_type) {
        record_error_type = PyErr_NewExceptionWithDoc(
            "velkorant.records.RecordError",
            "A record that cannot be read, or a move in it that the rules refuse: `line` is the line of the\n"
            "file (from 1), `ply` the move concerned (0 when it concerns no move).",
            PyExc_ValueError, nullptr);
        if (!record_error_type) return nullptr;
    }
    if (PyModule_AddObjectRef(module.get(), "RecordError", record_error_type) < 0) return nullptr;
    if (!tree_type) tree_type = reinterpret_cast<PyTypeObject*>(PyType_FromSpec(&tree_spec));
    if (!tree_type || PyModule_AddObjectRef(module.get(), "Tree", reinterpret_cast<PyObject*>(tree_type)) < 0)
        return nullptr;
    if (!seen_type) seen_type = reinterpret_cast<PyTypeObject*>(PyType_FromSpec(&seen_spec));
    if (!seen_type || PyModule_AddObjectRef(module.get(), "Seen", reinterpret_cast<PyObject*>(seen_type)) < 0)
        return nullptr;
    return module.release();
}

}  // namespace
}  // namespace velkorant::python

PyMODINIT_FUNC PyInit__records() { return velkorant::python::init(); }

// velkorant._mate: the native mate search under velkorant.mate.
//
//   solve(sfen, max_nodes, time_limit, memory_mb, shortest) -> (status, moves, nodes, seconds)
//
// The side to move of the SFEN attacks. max_nodes 0 and time_limit 0 mean no limit. The search
// runs without the interpreter lock; Ctrl-C stops it with KeyboardInterrupt.
#include <string>
#include <string_view>

#include "python/casters.hpp"
#include "python/errors.hpp"
#include "python/jobs/job.hpp"
#include "python/released.hpp"
#include "velkorant/dfpn.hpp"
#include "velkorant/game.hpp"

namespace velkorant::python {
namespace {

const char* status_name(MateStatus status) {
    switch (status) {
        case MateStatus::Mate: return "mate";
        case MateStatus::NoMate: return "no_mate";
        default: return "unknown";
    }
}

PyObject* result_tuple(const MateResult& result) {
    Ref moves(PyList_New(static_cast<Py_ssize_t>(result.moves.size())));
    if (!moves) return nullptr;
    for (std::size_t i = 0; i < result.moves.size(); ++i) {
        const std::string usi = result.moves[i].usi();
        PyObject* text = PyUnicode_FromStringAndSize(usi.data(), static_cast<Py_ssize_t>(usi.size()));
        if (!text) return nullptr;
        PyList_SET_ITEM(moves.get(), static_cast<Py_ssize_t>(i), text);
    }
    return Py_BuildValue("(sOKd)", status_name(result.status), moves.get(),
                         static_cast<unsigned long long>(result.nodes), result.seconds);
}

PyObject* solve(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
    if (nargs != 5)
        return PyErr_SetString(PyExc_TypeError, "solve(sfen, max_nodes, time_limit, memory_mb, shortest)"), nullptr;
    CasterFor<std::string_view> text;
    if (!text.load(args[0])) return nullptr;
    MateLimits limits;
    limits.max_nodes = PyLong_AsUnsignedLongLong(args[1]);
    if (PyErr_Occurred()) return nullptr;
    limits.time_limit = PyFloat_AsDouble(args[2]);
    if (PyErr_Occurred()) return nullptr;
    const long long memory = PyLong_AsLongLong(args[3]);
    if (PyErr_Occurred()) return nullptr;
    if (memory < 1 || memory > (1 << 20))
        return PyErr_Format(PyExc_ValueError, "memory_mb is 1 to %d, not %lld", 1 << 20, memory), nullptr;
    limits.memory_mb = static_cast<std::size_t>(memory);
    const int shortest = PyObject_IsTrue(args[4]);
    if (shortest < 0) return nullptr;
    limits.shortest = shortest != 0;
    // The position is read with the lock held: the text belongs to a Python object.
    std::optional<Game> game;
    if (!run_guarded([&]() -> PyObject* {
            game.emplace(text.get());
            Py_RETURN_NONE;
        }))
        return nullptr;
    Py_DECREF(Py_None);
    return run_unlocked([&](Checkpoint& checkpoint) { return solve_mate(game->board(), game->turn(), limits, checkpoint); },
                        [](const MateResult& result) { return result_tuple(result); },
                        &set_python_error_from_current_exception);
}

PyMethodDef functions[] = {
    {"solve", job::fastcall<&solve>(), METH_FASTCALL,
     "solve(sfen, max_nodes, time_limit, memory_mb, shortest, /)\n--\n\nSearches for a mate by the side to move: "
     "(status, USI moves, nodes, seconds)."},
    {},
};

PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT, "velkorant._mate", "The native mate search of velkorant.mate.", 0,
    functions, nullptr, nullptr, nullptr, nullptr,
};

}  // namespace
}  // namespace velkorant::python

PyMODINIT_FUNC PyInit__mate() { return PyModule_Create(&velkorant::python::module_def); }

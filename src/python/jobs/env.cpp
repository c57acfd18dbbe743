// velkorant._env: the native games of velkorant.env.VecEnv.
//
//   Env                                          the games, made by new_env
//   new_env(num_envs, max_plies, declaration)    num_envs games at the initial position
//   reset(env, features, mask, turn, threads)    every game back to the start, observed
//   step(env, actions, features, mask, turn, rewards, terminated, truncated,
//        final_features, final_mask, final_turn, threads)
//                                                one move a game, by label; the ended games
//                                                started again; how many ended
//   game_state(env, i) -> bytes                  game i as Game.__reduce__ gives its state
//   set_game_state(env, i, state, features, mask, turn)
//                                                game i replaced, its row observed
//   random_actions(mask, uniforms, out)          a set label of each mask row, by a uniform
//
// The buffers are C-contiguous and writable, of exactly one row a game: features uint8 (119 *
// 81 a game), mask bool (2187), turn int8, rewards float32, terminated and truncated bool,
// actions int64. Stepping and resetting run without the interpreter lock; while they do, the
// games refuse every other call (RuntimeError).
#include <cstring>
#include <optional>
#include <span>
#include <string>

#include "python/casters.hpp"
#include "python/jobs/job.hpp"
#include "python/released.hpp"
#include "velkorant/features.hpp"
#include "velkorant/vecenv.hpp"

namespace velkorant::python {
namespace {

struct Games {
    VecEnv env;
    bool busy = false;  // a call is using the games (with the lock released)
};

PyTypeObject* env_type = nullptr;

// The games of argument `obj`, marked busy for the length of the call; false with an exception
// set when `obj` is no Env or another thread is using it.
class Using {
public:
    explicit Using(PyObject* obj) {
        if (!env_type || !PyObject_TypeCheck(obj, env_type)) {
            PyErr_Format(PyExc_TypeError, "expected velkorant._env.Env, not %.200s", Py_TYPE(obj)->tp_name);
            return;
        }
        Games& games = job::held<Games>(obj);
        if (games.busy) {
            PyErr_SetString(PyExc_RuntimeError, "these games are being stepped by another thread");
            return;
        }
        games_ = &games;
        games.busy = true;
    }
    Using(const Using&) = delete;
    Using& operator=(const Using&) = delete;
    ~Using() {
        if (games_) games_->busy = false;
    }
    explicit operator bool() const { return games_ != nullptr; }
    VecEnv& env() const { return games_->env; }

private:
    Games* games_ = nullptr;
};

// The three observation buffers args[0..2], each of one row a game; false (with one exception
// set) at the first that is not right.
struct ObservationBuffers {
    std::optional<job::Buffer> features, mask, turn;
    ObservationBuffers(PyObject* const* args, std::size_t count, const std::string& prefix) {
        features.emplace(args[0], (prefix + "features").c_str(), 'B', 1, count * kFeaturesBytes);
        if (*features) mask.emplace(args[1], (prefix + "legal_mask").c_str(), '?', 1, count * kMoveLabels);
        if (mask && *mask) turn.emplace(args[2], (prefix + "turn").c_str(), 'b', 1, count);
    }
    explicit operator bool() const { return turn && *turn; }
    Observations get() const {
        return {features->data<std::uint8_t>(), mask->data<bool>(), turn->data<std::int8_t>()};
    }
};

bool load_index(PyObject* obj, const VecEnv& env, std::size_t& out) {
    const Py_ssize_t i = PyNumber_AsSsize_t(obj, PyExc_IndexError);
    if (i == -1 && PyErr_Occurred()) return false;
    const auto n = static_cast<Py_ssize_t>(env.size());
    if (i < -n || i >= n) return PyErr_Format(PyExc_IndexError, "game %zd out of range for %zd games", i, n), false;
    out = static_cast<std::size_t>(i < 0 ? i + n : i);
    return true;
}

PyObject* new_env(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
    if (nargs != 3) return PyErr_SetString(PyExc_TypeError, "new_env(num_envs, max_plies, declaration)"), nullptr;
    const Py_ssize_t count = PyNumber_AsSsize_t(args[0], PyExc_OverflowError);
    if (count == -1 && PyErr_Occurred()) return nullptr;
    if (count < 1 || count > (1 << 24))
        return PyErr_Format(PyExc_ValueError, "num_envs is 1 to %d, not %zd", 1 << 24, count), nullptr;
    EnvOptions options;
    if (!load_integer(args[1], options.max_plies)) return nullptr;
    const int declaration = PyObject_IsTrue(args[2]);
    if (declaration < 0) return nullptr;
    options.declaration = declaration != 0;
    return run_guarded([&]() -> PyObject* {
        return job::make_held<Games>(env_type, Games{VecEnv(static_cast<std::size_t>(count), options)});
    });
}

PyObject* reset(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
    if (nargs != 5) return PyErr_SetString(PyExc_TypeError, "reset(env, features, mask, turn, threads)"), nullptr;
    const Using games(args[0]);
    if (!games) return nullptr;
    VecEnv& env = games.env();
    const ObservationBuffers out(args + 1, env.size(), "");
    unsigned threads = 0;
    if (!out || !job::load_threads(args[4], threads)) return nullptr;
    return invoke_unlocked<void>([&](Checkpoint& checkpoint) { env.reset(out.get(), threads, checkpoint); });
}

PyObject* step(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
    if (nargs != 12)
        return PyErr_SetString(PyExc_TypeError, "step(env, actions, features, mask, turn, rewards, terminated, truncated, "
                                                "final_features, final_mask, final_turn, threads)"),
               nullptr;
    const Using games(args[0]);
    if (!games) return nullptr;
    VecEnv& env = games.env();
    const std::size_t n = env.size();
    const job::Buffer actions(args[1], "actions", 'q', 8, n);
    if (!actions) return nullptr;
    const ObservationBuffers out(args + 2, n, "");
    if (!out) return nullptr;
    const job::Buffer rewards(args[5], "rewards", 'f', 4, n);
    if (!rewards) return nullptr;
    const job::Buffer terminated(args[6], "terminated", '?', 1, n);
    if (!terminated) return nullptr;
    const job::Buffer truncated(args[7], "truncated", '?', 1, n);
    if (!truncated) return nullptr;
    const ObservationBuffers final(args + 8, n, "final_");
    unsigned threads = 0;
    if (!final || !job::load_threads(args[11], threads)) return nullptr;
    const StepResults results{rewards.data<float>(), terminated.data<bool>(), truncated.data<bool>(), final.get()};
    return invoke_unlocked<std::size_t>([&](Checkpoint& checkpoint) {
        return env.step(std::span<const std::int64_t>(actions.data<std::int64_t>(), n), out.get(), results, threads,
                        checkpoint);
    });
}

PyObject* game_state(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
    if (nargs != 2) return PyErr_SetString(PyExc_TypeError, "game_state(env, i)"), nullptr;
    const Using games(args[0]);
    if (!games) return nullptr;
    std::size_t i = 0;
    if (!load_index(args[1], games.env(), i)) return nullptr;
    return run_guarded([&]() -> PyObject* {
        const std::string state = games.env().game(i).state();
        return PyBytes_FromStringAndSize(state.data(), static_cast<Py_ssize_t>(state.size()));
    });
}

PyObject* set_game_state(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
    if (nargs != 6) return PyErr_SetString(PyExc_TypeError, "set_game_state(env, i, state, features, mask, turn)"), nullptr;
    const Using games(args[0]);
    if (!games) return nullptr;
    VecEnv& env = games.env();
    std::size_t i = 0;
    if (!load_index(args[1], env, i)) return nullptr;
    CasterFor<BytesView> state;
    if (!state.load(args[2])) return nullptr;
    const ObservationBuffers out(args + 3, env.size(), "");
    if (!out) return nullptr;
    return run_guarded([&]() -> PyObject* {
        env.set_game(i, Game::from_state(state.get().data), out.get());
        Py_RETURN_NONE;
    });
}

PyObject* random_actions(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
    if (nargs != 3) return PyErr_SetString(PyExc_TypeError, "random_actions(mask, uniforms, out)"), nullptr;
    const job::Buffer uniforms(args[1], false);
    if (!uniforms) return nullptr;
    const std::size_t rows = uniforms.size() / sizeof(double);
    const job::Buffer mask(args[0], "legal_mask", '?', 1, rows * kMoveLabels);
    if (!mask) return nullptr;
    const job::Buffer out(args[2], "out", 'q', 8, rows);
    if (!out) return nullptr;
    return invoke_unlocked<void>([&](Checkpoint&) {
        choose_labels(mask.data<bool>(), rows, uniforms.data<double>(), out.data<std::int64_t>());
    });
}

PyObject* size(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
    if (nargs != 1) return PyErr_SetString(PyExc_TypeError, "size(env)"), nullptr;
    const Using games(args[0]);
    if (!games) return nullptr;
    return PyLong_FromSize_t(games.env().size());
}

PyMethodDef functions[] = {
    {"new_env", job::fastcall<&new_env>(), METH_FASTCALL,
     "new_env(num_envs, max_plies, declaration, /)\n--\n\nGames at the initial position, stepped natively."},
    {"reset", job::fastcall<&reset>(), METH_FASTCALL,
     "reset(env, features, mask, turn, threads, /)\n--\n\nEvery game back to the initial position, observed."},
    {"step", job::fastcall<&step>(), METH_FASTCALL,
     "step(env, actions, features, mask, turn, rewards, terminated, truncated, final_features, final_mask, "
     "final_turn, threads, /)\n--\n\nOne move a game, by label; the games that end are started again. "
     "Returns how many ended."},
    {"game_state", job::fastcall<&game_state>(), METH_FASTCALL,
     "game_state(env, i, /)\n--\n\nThe state of game i, as Game.__reduce__ gives it."},
    {"set_game_state", job::fastcall<&set_game_state>(), METH_FASTCALL,
     "set_game_state(env, i, state, features, mask, turn, /)\n--\n\nReplaces game i by the game of a state; its row "
     "observed."},
    {"random_actions", job::fastcall<&random_actions>(), METH_FASTCALL,
     "random_actions(mask, uniforms, out, /)\n--\n\nA set label of each mask row, picked by a float64 in [0, 1) a "
     "row."},
    {"size", job::fastcall<&size>(), METH_FASTCALL, "size(env, /)\n--\n\nHow many games."},
    {},
};

PyType_Slot env_slots[] = {
    {Py_tp_dealloc, reinterpret_cast<void*>(&job::held_dealloc<Games>)},
    {Py_tp_doc, const_cast<char*>("Games stepped natively, made by new_env.")},
    {0, nullptr},
};

PyType_Spec env_spec = {"velkorant._env.Env", sizeof(job::Held<Games>), 0,
                        Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE | Py_TPFLAGS_DISALLOW_INSTANTIATION, env_slots};

PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT, "velkorant._env", "The native games of velkorant.env.", 0, functions, nullptr, nullptr,
    nullptr, nullptr,
};

PyObject* init() {
    Ref module(PyModule_Create(&module_def));
    if (!module) return nullptr;
    if (!env_type) env_type = reinterpret_cast<PyTypeObject*>(PyType_FromSpec(&env_spec));
    if (!env_type || PyModule_AddObjectRef(module.get(), "Env", reinterpret_cast<PyObject*>(env_type)) < 0)
        return nullptr;
    return module.release();
}

}  // namespace
}  // namespace velkorant::python

PyMODINIT_FUNC PyInit__env() { return velkorant::python::init(); }

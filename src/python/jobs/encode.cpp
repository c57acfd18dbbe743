// velkorant._encode: training examples from SFENs and USI moves in one native pass, under
// velkorant.data.encode_batch.
//
//   encode(sfens, moves, packing, packed, out1, out2, labels, threads)
//
// packing is "hcp" or "psfen"; the outputs are C-contiguous writable buffers of exactly the
// size asked for: 32 bytes an example, float32 planes, int64 labels. Runs without the
// interpreter lock on `threads` threads (0: every core); a failure names the first bad example.
#include <string_view>

#include "python/casters.hpp"
#include "python/jobs/job.hpp"
#include "python/released.hpp"
#include "velkorant/encode.hpp"

namespace velkorant::python {
namespace {

PyObject* encode(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
    if (nargs != 8)
        return PyErr_SetString(PyExc_TypeError, "encode(sfens, moves, packing, packed, out1, out2, labels, threads)"), nullptr;
    job::Texts sfens, moves;
    if (!sfens.load(args[0], "sfen") || !moves.load(args[1], "move")) return nullptr;
    const std::size_t count = sfens.views.size();
    if (moves.views.size() != count)
        return PyErr_Format(PyExc_ValueError, "%zu moves for %zu positions: one move a position", moves.views.size(), count),
               nullptr;
    CasterFor<std::string_view> name;
    if (!name.load(args[2])) return nullptr;
    Packing packing;
    if (name.get() == "hcp")
        packing = Packing::Hcp;
    else if (name.get() == "psfen")
        packing = Packing::Psfen;
    else
        return PyErr_Format(PyExc_ValueError, "unknown packing %R: hcp or psfen", args[2]), nullptr;
    unsigned threads = 0;
    if (!job::load_threads(args[7], threads)) return nullptr;
    const job::Buffer packed(args[3], true);
    if (!packed) return nullptr;
    if (packed.size() != 32 * count)
        return PyErr_Format(PyExc_ValueError, "packed holds %zu bytes, not 32 for each of %zu positions", packed.size(), count),
               nullptr;
    const job::Buffer out1(args[4], "out1", 'f', sizeof(float), count * kFeatures1Floats);
    if (!out1) return nullptr;
    const job::Buffer out2(args[5], "out2", 'f', sizeof(float), count * kFeatures2Floats);
    if (!out2) return nullptr;
    const job::Buffer labels(args[6], "labels", 'q', 8, count);
    if (!labels) return nullptr;
    const ExampleOutputs out{packed.data(), out1.data<float>(), out2.data<float>(), labels.data<std::int64_t>()};
    return invoke_unlocked<void>([&](Checkpoint& checkpoint) {
        encode_examples(sfens.views, moves.views, packing, out, threads, checkpoint);
    });
}

PyMethodDef functions[] = {
    {"encode", job::fastcall<&encode>(), METH_FASTCALL,
     "encode(sfens, moves, packing, packed, out1, out2, labels, threads, /)\n--\n\n"
     "The packing, both plane sets and the move's label of every position, in one pass."},
    {},
};

PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT, "velkorant._encode", "Training examples from SFENs and USI moves in one native pass.", 0,
    functions, nullptr, nullptr, nullptr, nullptr,
};

}  // namespace
}  // namespace velkorant::python

PyMODINIT_FUNC PyInit__encode() { return PyModule_Create(&velkorant::python::module_def); }

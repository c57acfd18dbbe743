// The module entry: creates the module and registers the classes in order.
#include "python/types.hpp"

namespace velkorant::python {
namespace {

// The core of the package: `import velkorant` re-exports its classes, whose names stay
// "velkorant.<Class>" (their __module__ is the package).
PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT, "velkorant._core", "", 0, nullptr, nullptr, nullptr, nullptr, nullptr,
};

struct Registration {
    PyTypeObject** type;
    const char* name;
    PyTypeObject* (*create)();
};

template <class Record>
constexpr Registration registration() {
    return {&ClassOf<Record>::type, ClassOf<Record>::name, &create_type_of<Record>};
}

// The classes in registration order, which is also the order of __all__. Type objects are
// created once per process and reused.
const Registration kClasses[] = {
    registration<Address>(), registration<Color>(), registration<Kind>(), registration<Piece>(),
    registration<Move>(),    registration<Hand>(),  registration<Board>(), registration<Game>(),
};

bool register_class(PyObject* module, const Registration& r) {
    if (!*r.type && !r.create()) return false;
    Ref all(PyObject_GetAttrString(module, "__all__"));
    if (!all) {
        if (!PyErr_ExceptionMatches(PyExc_AttributeError)) return false;
        PyErr_Clear();
        all = Ref(PyList_New(0));
        if (!all || PyModule_AddObjectRef(module, "__all__", all.get()) < 0) return false;
    }
    Ref name(PyUnicode_FromString(r.name));
    if (!name || PyList_Append(all.get(), name.get()) < 0) return false;
    return PyModule_AddObjectRef(module, r.name, reinterpret_cast<PyObject*>(*r.type)) == 0;
}

PyObject* init() {
    static bool initialized = false;
    if (initialized) {
        PyErr_SetString(PyExc_ImportError, "velkorant may only be initialized once per interpreter process");
        return nullptr;
    }
    Ref module(PyModule_Create(&module_def));
    if (!module) return nullptr;
    for (const Registration& r : kClasses)
        if (!register_class(module.get(), r)) return nullptr;
    initialized = true;
    return module.release();
}

}  // namespace
}  // namespace velkorant::python

PyMODINIT_FUNC PyInit__core() { return velkorant::python::init(); }

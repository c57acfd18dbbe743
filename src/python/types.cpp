// Type creation.
#include "python/types.hpp"

namespace velkorant::python {

PyTypeObject* create_type(const char* qualified_name, int basicsize, PyType_Slot* slots) {
    PyType_Spec spec{qualified_name, basicsize, 0, Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE, slots};
    return reinterpret_cast<PyTypeObject*>(PyType_FromSpec(&spec));
}

bool add_class_constant(PyTypeObject* type, const char* name, PyObject* value) {
    Ref owned(value);
    if (!owned) return false;
    if (PyDict_SetItemString(type->tp_dict, name, owned.get()) < 0) return false;
    PyType_Modified(type);
    return true;
}

}  // namespace velkorant::python

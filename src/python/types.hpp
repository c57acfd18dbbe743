// Type creation: each class is a heap type "velkorant.<Name>" made from a slot table. Not
// subclassable, immutable (class attributes read-only, no __class__ assignment), no __dict__,
// no weak references.
#pragma once

#include <initializer_list>
#include <vector>

#include "python/bindings.hpp"

namespace velkorant::python {

PyTypeObject* create_type(const char* qualified_name, int basicsize, PyType_Slot* slots);

// Adds a constant as a class attribute of an immutable type, before the type is published.
// Takes `value` (a new reference or nullptr).
bool add_class_constant(PyTypeObject* type, const char* name, PyObject* value);

// What a class file declares about its class. The method and attribute tables must live for
// the rest of the process (a class file keeps them as function-local statics) and end with a
// zeroed entry.
struct ClassDef {
    newfunc constructor;
    const char* doc;  // the constructor's text signature, "Name(parameters)\n--\n\n"
    reprfunc repr;
    PyMethodDef* methods = nullptr;
    PyGetSetDef* getset = nullptr;
    std::vector<PyType_Slot> extra = {};
};

// Creates the class of `Record` and records it in ClassOf<Record>::type.
template <class Record>
PyTypeObject* create_class(const ClassDef& c) {
    std::vector<PyType_Slot> slots = {
        {Py_tp_dealloc, reinterpret_cast<void*>(&dealloc<Record>)},
        {Py_tp_new, reinterpret_cast<void*>(c.constructor)},
        {Py_tp_repr, reinterpret_cast<void*>(c.repr)},
        {Py_tp_doc, const_cast<char*>(c.doc)},
    };
    if (c.methods) slots.push_back({Py_tp_methods, c.methods});
    if (c.getset) slots.push_back({Py_tp_getset, c.getset});
    slots.insert(slots.end(), c.extra.begin(), c.extra.end());
    slots.push_back({0, nullptr});
    return ClassOf<Record>::type = create_type(ClassOf<Record>::qualified_name, sizeof(Object<Record>), slots.data());
}

}  // namespace velkorant::python

// The out-of-line part of conversion: the sequence check and its messages.
#include "python/casters.hpp"

namespace velkorant::python {

bool check_sequence(PyObject* obj, Py_ssize_t length) {
    if (!PySequence_Check(obj)) return raise_cannot_convert(obj, "Sequence");
    const Py_ssize_t size = PySequence_Size(obj);
    if (size < 0) return false;
    if (size != length) {
        PyErr_Format(PyExc_ValueError, "expected a sequence of length %zd (got %zd)", length, size);
        return false;
    }
    return true;
}

}  // namespace velkorant::python

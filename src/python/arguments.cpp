// Argument matching.
#include "python/arguments.hpp"

#include <string>

namespace velkorant::python {
namespace {

class Matcher {
public:
    Matcher(const ParameterList& p, PyObject** out) : p_(p), out_(out) {}

    bool positional(PyObject* const* args, Py_ssize_t nargs) {
        if (nargs > static_cast<Py_ssize_t>(p_.count)) {
            const char* verb = nargs == 1 ? "was" : "were";
            if (p_.required == p_.count) {
                PyErr_Format(PyExc_TypeError, "%s.%s() takes %zu positional arguments but %zd %s given", p_.cls,
                             p_.member, p_.count, nargs, verb);
            } else {
                PyErr_Format(PyExc_TypeError, "%s.%s() takes from %zu to %zu positional arguments but %zd %s given",
                             p_.cls, p_.member, p_.required, p_.count, nargs, verb);
            }
            return false;
        }
        for (Py_ssize_t i = 0; i < nargs; ++i) out_[i] = args[i];
        return true;
    }

    bool keyword(PyObject* name, PyObject* value) {
        for (std::size_t i = 0; i < p_.count; ++i) {
            if (PyUnicode_Check(name) && PyUnicode_CompareWithASCIIString(name, p_.names[i]) == 0) {
                if (out_[i]) {
                    PyErr_Format(PyExc_TypeError, "%s.%s() got multiple values for argument '%s'", p_.cls,
                                 p_.member, p_.names[i]);
                    return false;
                }
                out_[i] = value;
                return true;
            }
        }
        PyErr_Format(PyExc_TypeError, "%s.%s() got an unexpected keyword argument '%S'", p_.cls, p_.member, name);
        return false;
    }

    bool finish() {
        std::size_t missing = 0;
        for (std::size_t i = 0; i < p_.required; ++i) missing += out_[i] == nullptr;
        if (missing == 0) return true;
        std::string list;
        std::size_t listed = 0;
        for (std::size_t i = 0; i < p_.required; ++i) {
            if (out_[i]) continue;
            if (listed > 0) list += listed + 1 == missing ? " and " : ", ";
            list += '\'';
            list += p_.names[i];
            list += '\'';
            ++listed;
        }
        PyErr_Format(PyExc_TypeError, "%s.%s() missing %zu required positional argument%s: %s", p_.cls, p_.member,
                     missing, missing == 1 ? "" : "s", list.c_str());
        return false;
    }

private:
    const ParameterList& p_;
    PyObject** out_;
};

}  // namespace

bool match_arguments(const ParameterList& p, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
                     PyObject** out) {
    Matcher matcher(p, out);
    if (!matcher.positional(args, nargs)) return false;
    if (kwnames) {
        const Py_ssize_t nkw = PyTuple_GET_SIZE(kwnames);
        for (Py_ssize_t i = 0; i < nkw; ++i)
            if (!matcher.keyword(PyTuple_GET_ITEM(kwnames, i), args[nargs + i])) return false;
    }
    return matcher.finish();
}

bool match_arguments(const ParameterList& p, PyObject* args, PyObject* kwargs, PyObject** out) {
    Matcher matcher(p, out);
    if (!matcher.positional(&PyTuple_GET_ITEM(args, 0), PyTuple_GET_SIZE(args))) return false;
    if (kwargs) {
        Py_ssize_t pos = 0;
        PyObject *key, *value;
        while (PyDict_Next(kwargs, &pos, &key, &value))
            if (!matcher.keyword(key, value)) return false;
    }
    return matcher.finish();
}

}  // namespace velkorant::python

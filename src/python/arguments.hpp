// Argument matching: positional then keyword arguments onto a member's parameters, with the
// messages of Python's own matching.
#pragma once

#include <cstddef>

#include "python/object.hpp"

namespace velkorant::python {

// The parameters of one member as matching needs them: the class and member name for the
// messages ("Board.deploy()", constructors are "__new__"), the names in order, and how many of
// them, from the front, are required; the rest have defaults.
struct ParameterList {
    const char* cls;
    const char* member;
    const char* const* names;
    std::size_t count;
    std::size_t required;
};

// Fills `out` (borrowed references, nullptr where a parameter with a default was not given),
// raising TypeError in Python's order: too many positional arguments, then each keyword as
// given, then the missing required parameters.
bool match_arguments(const ParameterList& p, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
                     PyObject** out);
bool match_arguments(const ParameterList& p, PyObject* args, PyObject* kwargs, PyObject** out);

}  // namespace velkorant::python

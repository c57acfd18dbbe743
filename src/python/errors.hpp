// Failures at the boundary: the rules' exceptions become Python exceptions in one place, and
// conversion failures get their argument name.
#pragma once

#include "python/object.hpp"

namespace velkorant::python {

// The exception for fatal failures of the native code, created once per process.
PyObject* panic_exception_type();

// Translates the C++ exception in flight (inside a catch block) into a Python exception.
void set_python_error_from_current_exception();

// Runs `body` and turns any C++ exception into the matching Python exception. `body` returns a
// new reference or nullptr with an exception set.
template <class Body>
PyObject* run_guarded(Body&& body) noexcept {
    try {
        return body();
    } catch (...) {
        set_python_error_from_current_exception();
        return nullptr;
    }
}

// Replaces a TypeError in flight by "argument 'name': <message>", keeping its cause. Errors of
// any other type pass through unchanged.
void prefix_argument_error(const char* name);

// TypeError "'<type>' object cannot be converted to '<target>'"; returns false.
bool raise_cannot_convert(PyObject* obj, const char* target);

}  // namespace velkorant::python

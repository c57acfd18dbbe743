// Error translation and the argument-name prefix.
#include "python/errors.hpp"

#include <exception>
#include <string>

#include "velkorant/errors.hpp"

namespace velkorant::python {

PyObject* panic_exception_type() {
    static PyObject* type = nullptr;  // lives for the rest of the process
    if (!type) {
        type = PyErr_NewExceptionWithDoc(
            "pyo3_runtime.PanicException",
            "Raised when the native code of velkorant fails fatally.\n\n"
            "Like SystemExit, this exception derives from BaseException, not from Exception, so\n"
            "that it normally propagates all the way up the stack and ends the interpreter.",
            PyExc_BaseException, nullptr);
    }
    return type;
}

namespace {

// Raises `type` with the whole message, NUL characters included.
void raise_with(PyObject* type, const std::string& message) {
    if (!type) return;  // creating the type failed and set its own exception
    Ref text(PyUnicode_DecodeUTF8(message.data(), static_cast<Py_ssize_t>(message.size()), "replace"));
    if (text) PyErr_SetObject(type, text.get());
}

}  // namespace

void set_python_error_from_current_exception() {
    try {
        throw;
    } catch (const Panic& e) {
        raise_with(panic_exception_type(), e.message());
    } catch (const ValueError& e) {
        raise_with(PyExc_ValueError, e.message());
    } catch (const OverflowError& e) {
        raise_with(PyExc_OverflowError, e.message());
    } catch (const IndexError& e) {
        raise_with(PyExc_IndexError, e.message());
    } catch (const TypeError& e) {
        raise_with(PyExc_TypeError, e.message());
    } catch (const std::bad_alloc&) {
        PyErr_NoMemory();
    } catch (const std::exception& e) {
        raise_with(panic_exception_type(), e.what());
    } catch (...) {
        raise_with(panic_exception_type(), "unknown native failure");
    }
}

void prefix_argument_error(const char* name) {
    if (!PyErr_ExceptionMatches(PyExc_TypeError)) return;
    PyObject *type, *value, *traceback;
    PyErr_Fetch(&type, &value, &traceback);
    PyErr_NormalizeException(&type, &value, &traceback);
    Ref old_type(type), old_value(value), old_traceback(traceback);
    Ref message(old_value ? PyObject_Str(old_value.get()) : PyUnicode_FromString(""));
    if (!message) return;
    Ref text(PyUnicode_FromFormat("argument '%s': %U", name, message.get()));
    if (!text) return;
    Ref replacement(PyObject_CallOneArg(PyExc_TypeError, text.get()));
    if (!replacement) return;
    if (old_value) {
        PyObject* cause = PyException_GetCause(old_value.get());  // new reference or NULL
        if (cause) PyException_SetCause(replacement.get(), cause);  // steals `cause`
    }
    PyErr_SetObject(PyExc_TypeError, replacement.get());
}

bool raise_cannot_convert(PyObject* obj, const char* target) {
    Ref qualname(PyObject_GetAttrString(reinterpret_cast<PyObject*>(Py_TYPE(obj)), "__qualname__"));
    if (!qualname) return false;
    // A metaclass can answer __qualname__ with any object; only a str may be formatted as text.
    if (!PyUnicode_Check(qualname.get())) qualname = Ref(PyObject_Str(qualname.get()));
    if (!qualname) return false;
    PyErr_Format(PyExc_TypeError, "'%U' object cannot be converted to '%s'", qualname.get(), target);
    return false;
}

}  // namespace velkorant::python

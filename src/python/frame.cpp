// The call frame's out-of-line pieces: error translation, argument matching, conversion
// messages and type creation.
#include "python/frame.hpp"

#include <exception>
#include <string>

namespace velkorant::python {

// ---------------------------------------------------------------------------------------------
// Errors

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

// ---------------------------------------------------------------------------------------------
// Argument matching

namespace {

// Collects the arguments of one call and reports mismatches in Python's own order: too many
// positional arguments, then each keyword as given, then the missing parameters.
class Matcher {
public:
    Matcher(const char* cls, const char* method, const char* const* names, std::size_t n, PyObject** out)
        : cls_(cls), method_(method), names_(names), n_(n), out_(out) {}

    bool positional(PyObject* const* args, Py_ssize_t nargs) {
        if (nargs > static_cast<Py_ssize_t>(n_)) {
            PyErr_Format(PyExc_TypeError, "%s.%s() takes %zu positional arguments but %zd %s given", cls_,
                         method_, n_, nargs, nargs == 1 ? "was" : "were");
            return false;
        }
        for (Py_ssize_t i = 0; i < nargs; ++i) out_[i] = args[i];
        return true;
    }

    bool keyword(PyObject* name, PyObject* value) {
        for (std::size_t i = 0; i < n_; ++i) {
            if (PyUnicode_Check(name) && PyUnicode_CompareWithASCIIString(name, names_[i]) == 0) {
                if (out_[i]) {
                    PyErr_Format(PyExc_TypeError, "%s.%s() got multiple values for argument '%s'", cls_,
                                 method_, names_[i]);
                    return false;
                }
                out_[i] = value;
                return true;
            }
        }
        PyErr_Format(PyExc_TypeError, "%s.%s() got an unexpected keyword argument '%S'", cls_, method_, name);
        return false;
    }

    bool finish() {
        std::size_t missing = 0;
        for (std::size_t i = 0; i < n_; ++i) missing += out_[i] == nullptr;
        if (missing == 0) return true;
        std::string list;
        std::size_t listed = 0;
        for (std::size_t i = 0; i < n_; ++i) {
            if (out_[i]) continue;
            if (listed > 0) list += listed + 1 == missing ? " and " : ", ";
            list += '\'';
            list += names_[i];
            list += '\'';
            ++listed;
        }
        PyErr_Format(PyExc_TypeError, "%s.%s() missing %zu required positional argument%s: %s", cls_, method_,
                     missing, missing == 1 ? "" : "s", list.c_str());
        return false;
    }

private:
    const char* cls_;
    const char* method_;
    const char* const* names_;
    std::size_t n_;
    PyObject** out_;
};

}  // namespace

bool match_arguments(const char* cls, const char* method, const char* const* names, std::size_t n,
                     PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames, PyObject** out) {
    Matcher matcher(cls, method, names, n, out);
    if (!matcher.positional(args, nargs)) return false;
    if (kwnames) {
        Py_ssize_t nkw = PyTuple_GET_SIZE(kwnames);
        for (Py_ssize_t i = 0; i < nkw; ++i)
            if (!matcher.keyword(PyTuple_GET_ITEM(kwnames, i), args[nargs + i])) return false;
    }
    return matcher.finish();
}

bool match_arguments(const char* cls, const char* method, const char* const* names, std::size_t n,
                     PyObject* args, PyObject* kwargs, PyObject** out) {
    Matcher matcher(cls, method, names, n, out);
    if (!matcher.positional(&PyTuple_GET_ITEM(args, 0), PyTuple_GET_SIZE(args))) return false;
    if (kwargs) {
        Py_ssize_t pos = 0;
        PyObject *key, *value;
        while (PyDict_Next(kwargs, &pos, &key, &value))
            if (!matcher.keyword(key, value)) return false;
    }
    return matcher.finish();
}

// ---------------------------------------------------------------------------------------------
// Conversion messages

bool raise_cannot_convert(PyObject* obj, const char* target) {
    Ref qualname(PyObject_GetAttrString(reinterpret_cast<PyObject*>(Py_TYPE(obj)), "__qualname__"));
    if (!qualname) return false;
    // A metaclass can answer __qualname__ with any object; only a str may be formatted as text.
    if (!PyUnicode_Check(qualname.get())) qualname = Ref(PyObject_Str(qualname.get()));
    if (!qualname) return false;
    PyErr_Format(PyExc_TypeError, "'%U' object cannot be converted to '%s'", qualname.get(), target);
    return false;
}

bool check_sequence(PyObject* obj, Py_ssize_t length) {
    if (!PySequence_Check(obj)) return raise_cannot_convert(obj, "Sequence");
    Py_ssize_t size = PySequence_Size(obj);
    if (size < 0) return false;
    if (size != length) {
        PyErr_Format(PyExc_ValueError, "expected a sequence of length %zd (got %zd)", length, size);
        return false;
    }
    return true;
}

// ---------------------------------------------------------------------------------------------
// Types

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

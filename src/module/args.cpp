#include "module/args.hpp"

#include "module/compat.hpp"

namespace corvane {

bool bind_args(const char* fname, const char* const* params, int n, PyObject* const* args,
               Py_ssize_t nargs, PyObject* kwnames, PyObject** out) noexcept {
    if (nargs > n) {
        PyErr_Format(PyExc_TypeError, "%.200s() takes at most %d arguments (%zd given)", fname, n, nargs);
        return false;
    }
    for (int i = 0; i < n; ++i) out[i] = i < nargs ? args[i] : nullptr;
    Py_ssize_t nkw = kwnames ? PyTuple_Size(kwnames) : 0;
    for (Py_ssize_t k = 0; k < nkw; ++k) {
        PyObject* key = PyTuple_GetItem(kwnames, k);
        if (!key) return false;
        int match = -1;
        for (int i = 0; i < n; ++i) {
            if (PyUnicode_CompareWithASCIIString(key, params[i]) == 0) {
                match = i;
                break;
            }
        }
        if (match < 0) {
            PyErr_Format(PyExc_TypeError, "'%U' is an invalid keyword argument for %.200s()", key, fname);
            return false;
        }
        if (out[match]) {
            PyErr_Format(PyExc_TypeError, "argument for %.200s() given by name ('%s') and position (%d)",
                         fname, params[match], match + 1);
            return false;
        }
        out[match] = args[nargs + k];
    }
    for (int i = 0; i < n; ++i) {
        if (!out[i]) {
            PyErr_Format(PyExc_TypeError, "%.200s() missing required argument '%s' (pos %d)", fname,
                         params[i], i + 1);
            return false;
        }
    }
    return true;
}

bool bool_arg(const char* fname, const char* param, PyObject* obj, bool& out) noexcept {
    if (!PyBool_Check(obj)) {
        Ref name = type_name(Py_TYPE(obj));
        if (name)
            PyErr_Format(PyExc_TypeError, "%.200s() argument '%s' must be bool, not %U", fname, param,
                         name.get());
        return false;
    }
    out = obj == Py_True;
    return true;
}

}  // namespace corvane

// Small stand-ins for what the 3.10 limited API lacks, kept here so that the rest of
// the code reads like ordinary C API code.
#pragma once
#include "module/python.hpp"
#include "module/ref.hpp"

namespace corvane {

// No PyObject_CallOneArg/Vectorcall in the 3.10 limited API: calls go through a tuple.
inline PyObject* call1(PyObject* fn, PyObject* a) noexcept {
    return PyObject_CallFunctionObjArgs(fn, a, nullptr);
}
inline PyObject* call3(PyObject* fn, PyObject* a, PyObject* b, PyObject* c) noexcept {
    return PyObject_CallFunctionObjArgs(fn, a, b, c, nullptr);
}
inline PyObject* call_method1(PyObject* obj, PyObject* name, PyObject* a) noexcept {
    return PyObject_CallMethodObjArgs(obj, name, a, nullptr);
}

// PyType_GetName is 3.11+; __name__ gives the same text for the messages we build.
inline Ref type_name(PyTypeObject* type) noexcept {
    return Ref::steal(PyObject_GetAttrString(reinterpret_cast<PyObject*>(type), "__name__"));
}

inline bool is_exact(PyObject* obj, PyTypeObject* type) noexcept { return Py_TYPE(obj) == type; }

// Containers that the host can iterate a second time after a fallback. Anything else
// (generators, map objects, files) would reach the host already partly consumed.
inline bool is_reiterable(PyObject* obj) noexcept {
    return PyList_Check(obj) || PyTuple_Check(obj) || PyDict_Check(obj) || PyAnySet_Check(obj) ||
           PyUnicode_Check(obj) || PyBytes_Check(obj);
}

}  // namespace corvane

#include "module/shared_keys.hpp"

#include "module/ref.hpp"

namespace corvane {
namespace {

// One class per tuple of keys, kept for the life of the process: a class made per plan
// would be garbage in a cycle when the plan goes, and plans built over and over would
// pile them up between collections. Past kMaxClasses key sets there is none.
constexpr Py_ssize_t kMaxClasses = 256;
PyObject* g_classes = nullptr;

// A borrowed class, or null (with an exception only on failure).
PyObject* class_for(PyObject* keys) noexcept {
    if (!g_classes && !(g_classes = PyDict_New())) return nullptr;
    if (PyObject* cls = PyDict_GetItemWithError(g_classes, keys)) return cls;
    if (PyErr_Occurred() || PyDict_Size(g_classes) >= kMaxClasses) return nullptr;
    Ref cls = Ref::steal(PyObject_CallFunction(reinterpret_cast<PyObject*>(&PyType_Type), "s(O){}", "record",
                                               reinterpret_cast<PyObject*>(&PyBaseObject_Type)));
    if (!cls || PyDict_SetItem(g_classes, keys, cls.get()) < 0) return nullptr;
    return cls.get();  // the cache holds it
}

}  // namespace

PyObject* shared_key_dict(PyObject* plain) noexcept {
    Ref listed = Ref::steal(PyDict_Keys(plain));
    Ref keys = Ref::steal(listed ? PyList_AsTuple(listed.get()) : nullptr);
    if (!keys) return nullptr;
    PyObject* cls = class_for(keys.get());
    Ref instance = Ref::steal(cls ? PyObject_CallNoArgs(cls) : nullptr);
    if (!instance) return nullptr;
    const Py_ssize_t n = PyTuple_Size(keys.get());
    for (Py_ssize_t i = 0; i < n; ++i) {
        if (PyObject_SetAttr(instance.get(), PyTuple_GetItem(keys.get(), i), Py_None) < 0) {
            PyErr_Clear();
            return nullptr;
        }
    }
    // The attributes must read back as exactly the keys in order mapped to None.
    Ref attrs = Ref::steal(PyObject_GenericGetDict(instance.get(), nullptr));
    if (!attrs || !PyDict_CheckExact(attrs.get()) || PyDict_Size(attrs.get()) != n) {
        PyErr_Clear();
        return nullptr;
    }
    Py_ssize_t pos = 0;
    PyObject *key, *value;
    for (Py_ssize_t i = 0; i < n; ++i) {
        if (!PyDict_Next(attrs.get(), &pos, &key, &value) || key != PyTuple_GetItem(keys.get(), i) || value != Py_None)
            return nullptr;
    }
    return PyDict_Copy(attrs.get());
}

}  // namespace corvane

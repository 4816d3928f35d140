#pragma once
#include "module/python.hpp"

namespace corvane {

// Interned strings created once per process and never released.
struct Names {
    PyObject* serialize;
    PyObject* deserialize;
    PyObject* partial;
    PyObject* getitem;  // "__getitem__"
    PyObject* strftime;
    PyObject* name;
    PyObject* value;
    PyObject* decode;
    PyObject* utf_8;  // "utf-8"
    PyObject* bytes;
    PyObject* mro;   // "__mro__"
    PyObject* dict;  // "__dict__"
    PyObject* items;
    PyObject* keys;
    // Methods through which json.loads reaches a str or bytes subclass.
    PyObject* getattribute;  // "__getattribute__"
    PyObject* class_;        // "__class__"
    PyObject* len;           // "__len__"
    PyObject* startswith;
    PyObject* isascii;
};
extern Names g_names;

}  // namespace corvane

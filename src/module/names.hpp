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
};
extern Names g_names;

}  // namespace corvane

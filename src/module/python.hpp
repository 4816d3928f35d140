// The one place that includes Python.h: every source sees the same limited-API setting.
#pragma once
#ifndef Py_LIMITED_API
#define Py_LIMITED_API 0x030A0000
#endif
#define PY_SSIZE_T_CLEAN
#include <Python.h>

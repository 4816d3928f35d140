#pragma once
#include "module/python.hpp"

namespace corvane {

// Create the two plan classes; new references or nullptr.
PyObject* make_dump_serializer_type(PyObject* module) noexcept;
PyObject* make_load_deserializer_type(PyObject* module) noexcept;

}  // namespace corvane

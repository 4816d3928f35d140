// Placeholder until the dump engine lands.
#include "dump/dump.hpp"

namespace corvane::dump {

std::unique_ptr<Serializer> parse_serializer(PyObject*, Arena&) noexcept {
    PyErr_SetString(PyExc_NotImplementedError, "dump plans are not built yet");
    return nullptr;
}
PyObject* run(const Serializer&, const Ctx&, PyObject*, bool) noexcept { return nullptr; }
PyObject* run_one(const Serializer&, const Ctx&, PyObject*) noexcept { return nullptr; }
PyObject* get_value(const FieldSpec&, const Ctx&, PyObject*) noexcept { return nullptr; }
PyObject* apply(const Element&, const Ctx&, PyObject*) noexcept { return nullptr; }

}  // namespace corvane::dump

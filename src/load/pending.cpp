// Placeholder until the load engine lands.
#include "load/load.hpp"

namespace corvane::load {

Partial Partial::from_arg(PyObject*) noexcept { return Partial{}; }
int Partial::derive(const Partial&, PyObject*, Partial&) noexcept { return -1; }
std::unique_ptr<LoadSerializer> parse_load_serializer(PyObject*, Arena&) noexcept {
    PyErr_SetString(PyExc_NotImplementedError, "load plans are not built yet");
    return nullptr;
}
PyObject* run(const LoadSerializer&, const Ctx&, PyObject*, bool, const Partial&) noexcept { return nullptr; }
PyObject* run_one(const LoadSerializer&, const Ctx&, PyObject*, const Partial&) noexcept { return nullptr; }
PyObject* apply(const LoadElement&, const Ctx&, PyObject*, const Partial&) noexcept { return nullptr; }
int check_all(const std::vector<Validator>&, PyObject*) noexcept { return -1; }
int set_load_value(PyObject*, const LoadFieldSpec&, PyObject*) noexcept { return -1; }

}  // namespace corvane::load

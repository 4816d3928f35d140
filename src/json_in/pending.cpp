// Placeholder until the JSON reader lands.
#include "json_in/json_in.hpp"

namespace corvane::json_in {

PyObject* run_json(const load::LoadSerializer&, const Ctx&, PyObject*, bool, const load::Partial&) noexcept {
    PyErr_SetString(PyExc_NotImplementedError, "run_json is not built yet");
    return nullptr;
}

}  // namespace corvane::json_in

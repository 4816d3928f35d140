// Placeholder until the JSON writer lands.
#include "json_out/json_out.hpp"

namespace corvane::json_out {

PyObject* run_json(const dump::Serializer&, const Ctx&, PyObject*, bool) noexcept {
    PyErr_SetString(PyExc_NotImplementedError, "run_json is not built yet");
    return nullptr;
}

}  // namespace corvane::json_out

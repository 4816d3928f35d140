#pragma once
#include "load/partial.hpp"
#include "load/plan.hpp"
#include "module/ctx.hpp"

namespace corvane::json_in {

// LoadDeserializer.run_json: a new dict or list, or nullptr with an exception set.
PyObject* run_json(const load::LoadSerializer& s, const Ctx& ctx, PyObject* data, bool many,
                   const load::Partial& partial) noexcept;

}  // namespace corvane::json_in

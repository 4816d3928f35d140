#pragma once
#include "dump/plan.hpp"
#include "module/ctx.hpp"

namespace corvane::json_out {

// Fills s.json_keys when the plan is made; -1 only when memory runs out.
int build_keys(dump::Serializer& s) noexcept;

// DumpSerializer.run_json: a new str, or nullptr with an exception set.
PyObject* run_json(const dump::Serializer& s, const Ctx& ctx, PyObject* obj, bool many) noexcept;

}  // namespace corvane::json_out

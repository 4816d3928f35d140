// The fused load: the load plan walked over a parsed document. Results are new
// references, or nullptr with an exception set.
#pragma once
#include "json_in/key_index.hpp"
#include "json_in/value.hpp"
#include "load/partial.hpp"
#include "load/plan.hpp"

namespace corvane::json_in {

// `object` is an Object node: one loaded record.
PyObject* run_one_json(Walk& walk, const load::LoadSerializer& plan, const JsonValue& object,
                       const load::Partial& partial) noexcept;
// `array` is an Array node: a list of loaded records.
PyObject* run_many_json(Walk& walk, const load::LoadSerializer& plan, const JsonValue& array,
                        const load::Partial& partial) noexcept;
// One value through its element; never called with a Null node.
PyObject* apply_json(Walk& walk, const load::LoadElement& element, const JsonValue& value,
                     const load::Partial& partial) noexcept;

}  // namespace corvane::json_in

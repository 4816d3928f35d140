// Entry points of the load engine, used by the module and by the fused JSON load.
// Object results are new references, or nullptr with an exception set.
#pragma once
#include "load/partial.hpp"
#include "load/plan.hpp"
#include "module/ctx.hpp"

namespace corvane {
class Arena;
}

namespace corvane::load {

std::unique_ptr<LoadSerializer> parse_load_serializer(PyObject* payload, Arena& arena) noexcept;

PyObject* run(const LoadSerializer& s, const Ctx& ctx, PyObject* data, bool many, const Partial& partial) noexcept;
PyObject* run_one(const LoadSerializer& s, const Ctx& ctx, PyObject* data, const Partial& partial) noexcept;
PyObject* apply(const LoadElement& e, const Ctx& ctx, PyObject* value, const Partial& partial) noexcept;

// 0 when every validator accepts `value`; -1 with AccelFallback set (or the
// KeyboardInterrupt / SystemExit a check raised).
int check_all(const std::vector<Validator>& validators, PyObject* value) noexcept;

// Stores `value` under the field's attribute, through nested dicts for a dotted one.
int set_load_value(PyObject* result, const LoadFieldSpec& f, PyObject* value) noexcept;

// load_absent's answer when it stored nothing.
inline constexpr int kNotStored = 1;

// An absent Direct field: skipped under partial, else required falls back, else its
// default, stored as it is (never called, converted or validated). 0 stored, kNotStored,
// or -1 with an exception set. `none_in_place`: the result is a template copy, whose
// entry for the field already holds None.
int load_absent(PyObject* result, const LoadFieldSpec& f, const Ctx& ctx, const Partial& partial,
                bool none_in_place) noexcept;

// Deletes the attributes of the fields whose bits are set in `unset` (fields past the
// 64th have none): template placeholders that no field replaced.
int drop_placeholders(PyObject* result, const std::vector<LoadFieldSpec>& fields, uint64_t unset) noexcept;

}  // namespace corvane::load

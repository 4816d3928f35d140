// Entry points of the dump engine, used by the module and by the fused JSON dump.
// All return a new reference, or nullptr with an exception set.
#pragma once
#include "dump/plan.hpp"
#include "module/ctx.hpp"

namespace corvane {
class Arena;
}

namespace corvane::dump {

std::unique_ptr<Serializer> parse_serializer(PyObject* payload, Arena& arena) noexcept;

PyObject* run(const Serializer& s, const Ctx& ctx, PyObject* obj, bool many) noexcept;
PyObject* run_one(const Serializer& s, const Ctx& ctx, PyObject* obj) noexcept;

// The field's value, or a new reference to ctx.missing when the object lacks it.
PyObject* get_value(const FieldSpec& f, const Ctx& ctx, PyObject* obj) noexcept;
PyObject* apply(const Element& e, const Ctx& ctx, PyObject* value) noexcept;

}  // namespace corvane::dump

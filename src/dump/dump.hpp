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

// `s` is the root of the call: when it may fall back, one-shot iterables (generators,
// map objects, files) raise AccelFallback before their first item is taken, because the
// host re-runs the whole call and would otherwise see them already partly consumed.
PyObject* run(const Serializer& s, const Ctx& ctx, PyObject* obj, bool many) noexcept;

// The field's value, or a new reference to ctx.missing when the object lacks it.
PyObject* get_value(const FieldSpec& f, const Ctx& ctx, PyObject* obj) noexcept;

// One value converted by `e`, for a caller that may still fall back afterwards (the
// fused JSON dump): every one-shot iterable met below `e` falls back before it is read.
PyObject* apply(const Element& e, const Ctx& ctx, PyObject* value) noexcept;

}  // namespace corvane::dump

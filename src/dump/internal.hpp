// Shared by the dump engine's own files. `reiterable_only` carries the root plan's
// may_fall_back down a run: it is a property of the whole call, not of one node, since a
// fallback anywhere re-runs everything the call has read so far.
#pragma once
#include "dump/dump.hpp"
#include "module/compat.hpp"
#include "module/fallback.hpp"
#include "module/ref.hpp"
#include "module/walk.hpp"

namespace corvane::dump {

PyObject* run_in(const Serializer& s, const Ctx& ctx, PyObject* obj, bool many, bool reiterable_only) noexcept;
PyObject* run_one_in(const Serializer& s, const Ctx& ctx, PyObject* obj, bool reiterable_only) noexcept;
PyObject* apply_in(const Element& e, const Ctx& ctx, PyObject* value, bool reiterable_only) noexcept;

PyObject* get_one(PyObject* obj, PyObject* key, PyObject* missing) noexcept;

PyObject* apply_dict_of(const Element& e, const Ctx& ctx, PyObject* value, bool reiterable_only) noexcept;
PyObject* apply_tuple_of(const Element& e, const Ctx& ctx, PyObject* value, bool reiterable_only) noexcept;

}  // namespace corvane::dump

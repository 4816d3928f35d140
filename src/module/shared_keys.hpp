// Record dicts that share one table of keys: where the interpreter does that for the
// attribute dicts of instances, copies of such a dict allocate only a row of values,
// and freeing one releases no keys.
#pragma once
#include "module/python.hpp"

#include <cstddef>

namespace corvane {

// The entries a new dict holds before its table first grows: records up to this wide
// are built faster in a fresh dict, whose table comes from the interpreter's free list,
// than by copying a template.
inline constexpr size_t kFreshDictRoom = 5;

// A new dict equal to `plain` (distinct exact-str keys, each mapped to None), shared
// as above. Null without an exception when no such dict can be had (a key that names a
// slot of `object`, or too many key sets); null with an exception on failure.
PyObject* shared_key_dict(PyObject* plain) noexcept;

}  // namespace corvane

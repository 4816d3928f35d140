// Reading payload tuples: the conventions shared by the dump and load payloads.
// Every reader returns nullptr / -1 with the exception set; positions are borrowed.
#pragma once
#include "module/python.hpp"

#include <cstdint>
#include <vector>

namespace corvane {

class Arena;

namespace payload {

// TypeError "'<actual>' object cannot be cast as '<expected>'".
void cast_error(PyObject* obj, const char* expected) noexcept;

bool expect_tuple(PyObject* obj) noexcept;
bool expect_list(PyObject* obj) noexcept;
bool expect_str(PyObject* obj) noexcept;

// Position `i` of a tuple, IndexError when absent.
PyObject* item(PyObject* tuple, Py_ssize_t i) noexcept;
PyObject* tuple_at(PyObject* tuple, Py_ssize_t i) noexcept;
PyObject* list_at(PyObject* tuple, Py_ssize_t i) noexcept;
PyObject* str_at(PyObject* tuple, Py_ssize_t i) noexcept;
int bool_at(PyObject* tuple, Py_ssize_t i, bool& out) noexcept;
// Tag and policy positions: unsigned 8-bit; OverflowError outside 0..255.
int u8_at(PyObject* tuple, Py_ssize_t i, uint8_t& out) noexcept;
int u8_of(PyObject* obj, uint8_t& out) noexcept;

// Splits a dotted attribute at every "." into new str pieces held by `arena`; leaves
// `path` empty when there is no dot. Fails with the encoder's error when `attribute`
// has no UTF-8 form.
int split_path(PyObject* attribute, Arena& arena, std::vector<PyObject*>& path) noexcept;

}  // namespace payload
}  // namespace corvane

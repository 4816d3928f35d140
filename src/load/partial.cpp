// Partial selections and their narrowing by dotted prefixes.
#include <cstring>

#include "load/detail.hpp"

namespace corvane::load {
namespace {

// UTF-8 of a selection entry or field name. A lone surrogate has none, but the host's
// own str operations handle it, so the call falls back rather than raising.
const char* utf8_or_fallback(PyObject* s, Py_ssize_t& size) noexcept {
    const char* text = PyUnicode_AsUTF8AndSize(s, &size);
    if (!text && PyErr_ExceptionMatches(PyExc_UnicodeEncodeError)) raise_fallback();
    return text;
}

}  // namespace

Partial Partial::from_arg(PyObject* arg) noexcept {
    Partial p;
    if (PyBool_Check(arg)) {
        p.state = arg == Py_True ? State::All : State::None;
    } else if (arg != Py_None) {
        // Any other object is a selection, whatever its truth value.
        p.state = State::Names;
        p.names = Ref::borrow(arg);
    }
    return p;
}

int Partial::skips(PyObject* name) const noexcept {
    switch (state) {
        case State::None:
            return 0;
        case State::All:
            return 1;
        case State::Names:
            return contains(names.get(), name);
    }
    return 0;
}

int Partial::derive(const Partial& partial, PyObject* name, Partial& out) noexcept {
    switch (partial.state) {
        case State::None:
        case State::All:
            out.state = partial.state;
            out.names.reset();
            return 0;
        case State::Names:
            break;
    }
    PyObject* selection = partial.names.get();
    if (is_consumable(selection)) return raise_fallback();
    Py_ssize_t name_len;
    const char* name_text = utf8_or_fallback(name, name_len);
    if (!name_text) return -1;
    Ref narrowed = Ref::steal(PyList_New(0));
    if (!narrowed) return -1;
    int rc = for_each_item(selection, [&](PyObject* entry) noexcept -> int {
        if (!PyUnicode_Check(entry)) return raise_fallback();
        Py_ssize_t len;
        const char* text = utf8_or_fallback(entry, len);
        if (!text) return -1;
        // Carried down only when it starts with "<name>."; the entry equal to `name`
        // itself is not.
        if (len <= name_len || text[name_len] != '.' || std::memcmp(text, name_text, static_cast<size_t>(name_len)))
            return 0;
        Ref rest = Ref::steal(PyUnicode_FromStringAndSize(text + name_len + 1, len - name_len - 1));
        return rest ? PyList_Append(narrowed.get(), rest.get()) : -1;
    });
    if (rc < 0) return -1;
    out.state = State::Names;
    out.names = std::move(narrowed);
    return 0;
}

}  // namespace corvane::load

// json_to_py: a subtree to the Python objects json.loads would have made for it.
#include "json_in/value.hpp"
#include "module/ref.hpp"

namespace corvane::json_in {

// The parse bounds the tree at kMaxDepth levels, so plain recursion stays shallow.
PyObject* json_to_py(const JsonValue& v) noexcept {
    switch (v.kind) {
        case JsonKind::Null:
            Py_RETURN_NONE;
        case JsonKind::Bool:
            if (v.boolean) Py_RETURN_TRUE;
            Py_RETURN_FALSE;
        case JsonKind::Int:
            return PyLong_FromLongLong(v.integer);
        case JsonKind::Float:
            return PyFloat_FromDouble(v.number);
        case JsonKind::Str:
            return str_to_py(v);
        case JsonKind::Array: {
            Ref list = Ref::steal(PyList_New(v.size));
            if (!list) return nullptr;
            for (uint32_t i = 0; i < v.size; ++i) {
                PyObject* item = json_to_py(v.items[i]);
                if (!item) return nullptr;
                PyList_SetItem(list.get(), i, item);  // steals; cannot fail on a fresh list
            }
            return list.release();
        }
        case JsonKind::Object: {
            // Item assignment in document order: a repeated key keeps the place of its
            // first occurrence and the value of its last, as in json.loads.
            Ref dict = Ref::steal(PyDict_New());
            if (!dict) return nullptr;
            for (uint32_t i = 0; i < v.size; ++i) {
                const JsonPair& pair = v.pairs[i];
                Ref key = Ref::steal(str_to_py(pair.key, pair.key_size));
                if (!key) return nullptr;
                Ref value = Ref::steal(json_to_py(pair.value));
                if (!value || PyDict_SetItem(dict.get(), key.get(), value.get()) < 0) return nullptr;
            }
            return dict.release();
        }
    }
    PyErr_SetString(PyExc_SystemError, "corrupt JSON node");
    return nullptr;
}

}  // namespace corvane::json_in

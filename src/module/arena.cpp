#include "module/arena.hpp"

#include <new>

namespace corvane {

PyObject* Arena::keep(PyObject* obj) noexcept {
    try {
        refs_.push_back(obj);
    } catch (const std::bad_alloc&) {
        PyErr_NoMemory();
        return nullptr;
    }
    Py_INCREF(obj);
    return obj;
}

PyObject* Arena::adopt(PyObject* owned) noexcept {
    if (!owned) return nullptr;
    try {
        refs_.push_back(owned);
    } catch (const std::bad_alloc&) {
        Py_DECREF(owned);
        PyErr_NoMemory();
        return nullptr;
    }
    return owned;
}

void Arena::clear() noexcept {
    // Detach first: a decref may run a finalizer that reaches this plan again.
    std::vector<PyObject*> refs;
    refs.swap(refs_);
    for (PyObject* o : refs) Py_DECREF(o);
}

}  // namespace corvane

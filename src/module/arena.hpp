#pragma once
#include "module/python.hpp"

#include <vector>

namespace corvane {

// Strong references to every Python object a plan holds. Plan nodes keep borrowed
// pointers into it, so the garbage collector has a single flat list to traverse and
// the plan releases everything in one place.
class Arena {
public:
    Arena() = default;
    Arena(const Arena&) = delete;
    Arena& operator=(const Arena&) = delete;
    ~Arena() { clear(); }

    // Keeps a new reference to `obj` and returns it; nullptr (MemoryError set) on failure.
    PyObject* keep(PyObject* obj) noexcept;
    // Takes over a new reference; on failure it is released and nullptr returned.
    PyObject* adopt(PyObject* owned) noexcept;

    int traverse(visitproc visit, void* arg) const noexcept {
        for (PyObject* o : refs_) Py_VISIT(o);
        return 0;
    }
    void clear() noexcept;

private:
    std::vector<PyObject*> refs_;
};

}  // namespace corvane

#pragma once
#include "module/python.hpp"

namespace corvane {

// Bounds recursion through nested plans, payloads and containers. Py_EnterRecursiveCall
// alone is not enough: on 3.12+ its C limit is high enough for our frames to overflow
// the stack under ASan, and on 3.10/3.11 it follows sys.setrecursionlimit. So a fixed
// cap of our own comes first.
class DepthGuard {
public:
    static constexpr int kMaxDepth = 1000;

    DepthGuard() noexcept = default;
    DepthGuard(const DepthGuard&) = delete;
    DepthGuard& operator=(const DepthGuard&) = delete;
    ~DepthGuard() {
        if (entered_) {
            Py_LeaveRecursiveCall();
            --depth_;
        }
    }

    // false with RecursionError set when too deep.
    bool enter(const char* where) noexcept {
        if (depth_ >= kMaxDepth) {
            PyErr_Format(PyExc_RecursionError, "maximum nesting depth exceeded%s", where);
            return false;
        }
        if (Py_EnterRecursiveCall(where)) return false;
        ++depth_;
        entered_ = true;
        return true;
    }

private:
    // Per thread: each thread has its own C stack. Re-entrant calls add up, which only
    // makes the cap stricter.
    static inline thread_local int depth_ = 0;
    bool entered_ = false;
};

}  // namespace corvane

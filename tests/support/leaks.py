"""Leak checks that work on release interpreters.

``sys.gettotalrefcount`` exists only on debug builds of CPython, so the checks rest on
tracemalloc (Python allocations) and on the reference counts of the objects a call
touches; both catch a reference kept per call.
"""

import gc
import sys
import tracemalloc


def _run(fn, n):
    for _ in range(n):
        try:
            fn()
        except Exception:
            pass


def assert_no_leak(fn, *, rounds=2000, warmup=200, slack=64 * 1024, watch=()):
    """Calls ``fn`` many times (exceptions are expected and ignored) and fails if
    traced memory grows by more than ``slack`` bytes or if the refcount of any object
    in ``watch`` changes."""
    _run(fn, warmup)
    gc.collect()
    before_refs = [sys.getrefcount(o) for o in watch]
    total = getattr(sys, "gettotalrefcount", None)
    before_total = total() if total else None
    tracemalloc.start()
    try:
        _run(fn, rounds // 4)
        gc.collect()
        start, _ = tracemalloc.get_traced_memory()
        _run(fn, rounds)
        gc.collect()
        end, _ = tracemalloc.get_traced_memory()
    finally:
        tracemalloc.stop()
    growth = end - start
    assert growth < slack, f"traced memory grew by {growth} bytes over {rounds} calls"
    after_refs = [sys.getrefcount(o) for o in watch]
    assert after_refs == before_refs, f"refcounts changed: {before_refs} -> {after_refs}"
    if total:
        assert total() - before_total < rounds // 10, "total refcount grew"

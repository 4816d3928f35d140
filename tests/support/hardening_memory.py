"""Memory growth over repeated calls, seen two ways: Python allocations (tracemalloc)
and the process's resident set, which also shows what native code keeps."""

import gc
import os
import tracemalloc

_PAGE = os.sysconf("SC_PAGE_SIZE")


def rss():
    """Resident bytes now (not the peak)."""
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * _PAGE


def _repeat(fn, n):
    for _ in range(n):
        try:
            fn()
        except BaseException as exc:  # KeyboardInterrupt from host code is one of the paths
            if isinstance(exc, SystemExit):
                raise


def growth(fn, rounds, warmup=None):
    """(traced growth, resident growth) in bytes over `rounds` calls after a warm-up.
    The resident figure comes from a run without tracing, whose own bookkeeping
    would hide small growth."""
    _repeat(fn, warmup if warmup is not None else max(rounds // 5, 20))
    gc.collect()
    before = rss()
    _repeat(fn, rounds)
    gc.collect()
    resident = rss() - before
    tracemalloc.start()
    try:
        _repeat(fn, max(rounds // 10, 10))
        gc.collect()
        start, _ = tracemalloc.get_traced_memory()
        _repeat(fn, rounds // 2)
        gc.collect()
        end, _ = tracemalloc.get_traced_memory()
    finally:
        tracemalloc.stop()
    return end - start, resident

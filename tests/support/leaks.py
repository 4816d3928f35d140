"""One leak check for every test: ``assert_no_leak(fn, ...)`` calls ``fn`` ``warmup`` times,
then repeatedly (whatever it raises but SystemExit is a path too), and fails when a
reference to an object in ``watch`` was kept, and

- on a debug interpreter whose total the extension counts into (``counts_references``):
  when ``sys.gettotalrefcount`` grew in every batch of calls, which sees each lost
  reference exactly;
- elsewhere: when tracemalloc saw ``slack`` bytes or more kept, or, with ``resident``, the
  resident set grew that much (native memory; not under AddressSanitizer's quarantine).

An extension built against release headers changes ``ob_refcnt`` inline, so the debug
total drifts without any leak; a debug build for the stable ABI calls ``_Py_IncRef`` and
``_Py_DecRef`` instead, which the module's dynamic symbol table shows.
"""

import functools
import gc
import os
import sys
import tracemalloc

_BATCHES = 3  # reference-total batches; a leak grows the total in each of them


def _repeat(fn, n):
    for _ in range(n):
        try:
            fn()
        except BaseException as exc:  # KeyboardInterrupt from host code is one of the paths
            if isinstance(exc, SystemExit):
                raise


@functools.lru_cache(maxsize=None)
def counts_references():
    """True when ``sys.gettotalrefcount`` exists and the loaded ``_core`` updates it."""
    if not hasattr(sys, "gettotalrefcount"):
        return False
    from corvane_core import _core

    with open(_core.__file__, "rb") as f:
        image = f.read()
    # Names in the dynamic string table stand between NUL bytes; a release build has neither.
    return all(b"\0%s\0" % name in image for name in (b"_Py_IncRef", b"_Py_DecRef"))


def _resident():
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")


def _total_growth(fn, per_batch):
    # Preallocated, and read at the same point each time, so that the bookkeeping
    # itself adds the same references before every reading.
    totals = [0] * (_BATCHES + 1)
    for i in range(_BATCHES + 1):
        if i:
            _repeat(fn, per_batch)
        gc.collect()
        totals[i] = sys.gettotalrefcount()
    return [b - a for a, b in zip(totals, totals[1:])]


def assert_no_leak(fn, *, rounds=2000, warmup=200, slack=64 * 1024, resident=None, watch=()):
    _repeat(fn, warmup)
    gc.collect()
    before_refs = [sys.getrefcount(o) for o in watch]
    if counts_references():
        grew = _total_growth(fn, max(rounds // _BATCHES, 1))
        assert min(grew) <= 0, f"total refcount grew in every batch of {rounds // _BATCHES} calls: {grew}"
    else:
        _assert_no_memory_kept(fn, rounds, slack, resident)
    after_refs = [sys.getrefcount(o) for o in watch]
    assert after_refs == before_refs, f"refcounts changed: {before_refs} -> {after_refs}"


def _assert_no_memory_kept(fn, rounds, slack, resident):
    if resident is not None and sys.platform == "linux" and "asan" not in os.environ.get("LD_PRELOAD", ""):
        # Measured without tracing, whose own bookkeeping would hide small growth.
        start = _resident()
        _repeat(fn, rounds)
        gc.collect()
        kept = _resident() - start
        assert kept < resident, f"resident set grew by {kept} bytes over {rounds} calls"
    tracemalloc.start()
    try:
        _repeat(fn, rounds // 4)
        gc.collect()
        start, _ = tracemalloc.get_traced_memory()
        _repeat(fn, rounds)
        gc.collect()
        end, _ = tracemalloc.get_traced_memory()
    finally:
        tracemalloc.stop()
    assert end - start < slack, f"traced memory grew by {end - start} bytes over {rounds} calls"

"""Side-by-side timing shared by the benchmarks."""

import gc
import time


CLOCKS = {"cpu": time.process_time, "wall": time.perf_counter}


def add_clock_option(ap):
    ap.add_argument("--clock", choices=CLOCKS, default="cpu",
                    help="cpu: this process's CPU time (steady on a crowded machine); wall: elapsed time")


def best_times(contenders, repeat, collector=False, clock=time.perf_counter):
    """Best time of each (name, fn), taken in interleaved rounds so that load from
    elsewhere on the shared machine falls on all of them alike. Each timed call follows
    an untimed call of the same function, as in timeit's loops: in a fixed order, a
    contender run just after one that shares its code and data (orjson.loads alone after
    run(orjson.loads) of the same text) would find the processor's caches warm where
    its neighbours do not. Each call starts from a collected heap, so none inherits the
    collector counts of the one before; without `collector` the collector stays off
    during the calls, as timeit keeps it. Freeing a result is left out of its time, so
    what is compared is the making of results; freeing is not always the same work (a
    result that shares repeated objects has fewer to free).
    `clock=time.process_time` counts only this process's CPU time, which leaves out the
    time other processes hold the cores of a crowded machine."""
    contenders = list(contenders)
    best = {name: float("inf") for name, _ in contenders}
    for _ in range(repeat):
        for name, fn in contenders:
            fn()
            gc.collect()
            if not collector:
                gc.disable()
            try:
                t = clock()
                out = fn()
                elapsed = clock() - t
            finally:
                gc.enable()
            del out
            best[name] = min(best[name], elapsed)
    return best

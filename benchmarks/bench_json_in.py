"""JSON load benchmark: the load batch of bench_load.py serialised as one JSON document
(about 4 MB at the default size), loaded by run_json and by the two-step paths, side by
side, with the peak memory of each.

    PYTHONPATH=python python benchmarks/bench_json_in.py [--records N] [--repeat R]

Peak memory is measured in a fresh interpreter per variant, since the parsed tree lives
outside the Python allocator where tracemalloc cannot see it: the child reads the text
from a file, builds the plan, then reports how far its peak resident size grew during
one call.
"""

import argparse
import gc
import json
import os
import pathlib
import resource
import subprocess
import sys
import tempfile

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent))

import bench_load as bl  # noqa: E402
import timing  # noqa: E402
from corvane_core._core import LoadDeserializer  # noqa: E402

OURS, LOADS, ORJSON, ORJSON_ALONE, PYDANTIC = (
    "run_json(text)", "run(json.loads(text))", "run(orjson.loads(text))", "orjson.loads(text) alone",
    "pydantic validate_json",
)
VARIANTS = [OURS, LOADS, ORJSON, ORJSON_ALONE, PYDANTIC]
GATES = {LOADS: 2.0, ORJSON: 1.0, ORJSON_ALONE: 1.3}  # the other's time / run_json's


def variant(name, text):
    """A zero-argument callable, or None when its package is absent. Only what the
    variant needs is imported, so that a memory child carries nothing else."""
    d = LoadDeserializer(bl.RECORD_PLAN, bl.MISSING)
    if name == OURS:
        return lambda: d.run_json(text, True, None)
    if name == LOADS:
        return lambda: d.run(json.loads(text), True, None)
    if name == PYDANTIC:
        adapter = bl.pydantic_adapter()
        return adapter and (lambda: adapter.validate_json(text))
    try:
        import orjson
    except ImportError:
        return None
    if name == ORJSON:
        return lambda: d.run(orjson.loads(text), True, None)
    return lambda: orjson.loads(text)


def _status_kib(field):
    with open("/proc/self/status") as f:
        for line in f:
            if line.startswith(field + ":"):
                return int(line.split()[1])
    raise KeyError(field)


def child(name, path):
    with open(path, encoding="utf-8") as f:
        text = f.read()
    fn = variant(name, text)
    gc.collect()
    try:
        # Resets the peak to the current size, so that neither reading the file nor the
        # parent (whose peak ru_maxrss would inherit across exec) counts.
        with open("/proc/self/clear_refs", "w") as f:
            f.write("5")
        before = _status_kib("VmRSS")
        result = fn()
        after = _status_kib("VmHWM")
    except OSError:
        before = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
        result = fn()
        after = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
    del result
    print(after - before)  # KiB


def peak_kib(name, path):
    out = subprocess.run([sys.executable, __file__, "--child", name, path], capture_output=True, text=True,
                         check=True)
    return int(out.stdout.strip().splitlines()[-1])


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--records", type=int, default=12_000)  # about 4 MB of JSON
    ap.add_argument("--repeat", type=int, default=9)
    ap.add_argument("--gc", action="store_true", help="keep the garbage collector on while timing")
    timing.add_clock_option(ap)
    ap.add_argument("--child", nargs=2, metavar=("VARIANT", "FILE"), help=argparse.SUPPRESS)
    args = ap.parse_args()
    if args.child:
        return child(*args.child)

    text = json.dumps(bl.make_batch(args.records))
    d = LoadDeserializer(bl.RECORD_PLAN, bl.MISSING)
    if d.run_json(text, True, None) != d.run(json.loads(text), True, None):
        sys.exit("run_json differs from run(json.loads)")

    contenders = [(name, fn) for name in VARIANTS if (fn := variant(name, text))]
    times = timing.best_times(contenders, args.repeat, collector=args.gc, clock=timing.CLOCKS[args.clock])
    with tempfile.NamedTemporaryFile("w", suffix=".json", delete=False, encoding="utf-8") as f:
        f.write(text)
    try:
        peaks = {name: peak_kib(name, f.name) for name, _ in contenders}
    finally:
        os.unlink(f.name)

    print(f"JSON load of {args.records} records ({len(text.encode()) / 1e6:.2f} MB), best of {args.repeat}, "
          f"collector {'on' if args.gc else 'off'}, {args.clock} time")
    print(f"  {'':<26} {'time':>9} {'/ run_json':>11} {'peak':>10}")
    for name, _ in contenders:
        print(f"  {name:<26} {times[name] * 1e3:6.2f} ms {times[name] / times[OURS]:10.2f}x"
              f" {peaks[name] / 1024:6.1f} MiB")

    def ratio(name):
        return f"{times[name] / times[OURS]:.2f}x" if name in times else "n/a"

    missed = [f"{name} / run_json {ratio(name)} (>= {bound})" for name, bound in GATES.items()
              if name in times and times[name] / times[OURS] < bound]
    if peaks[OURS] > peaks[LOADS]:
        missed.append("peak above run(json.loads)'s")
    print(f"Gate: run(json.loads) / run_json {ratio(LOADS)} (>= {GATES[LOADS]}), run(orjson.loads) / run_json "
          f"{ratio(ORJSON)} (>= {GATES[ORJSON]}), orjson.loads alone / run_json {ratio(ORJSON_ALONE)} "
          f"(>= {GATES[ORJSON_ALONE]}), peak {peaks[OURS] / 1024:.1f} MiB vs {peaks[LOADS] / 1024:.1f} MiB (<=): "
          + ("missed: " + "; ".join(missed) if missed else "met"))
    print(f"Aim:  pydantic / run_json {ratio(PYDANTIC)} (>= 3)")
    return 1 if missed else 0


if __name__ == "__main__":
    sys.exit(main())

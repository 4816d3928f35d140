"""JSON load benchmark: one ~4 MB JSON document holding the load batch, loaded with
run_json and with the two-step paths, side by side, with the peak memory of each.

    PYTHONPATH=python python benchmarks/bench_json_in.py [--records N] [--repeat R]

Peak memory is measured in a fresh interpreter per variant (the parsed tree lives
outside the Python allocator, so tracemalloc cannot see it): the child reads the text
from a file, builds the plan, then reports how far its peak resident size grew during
one call.
"""

import argparse
import gc
import json
import os
import random
import resource
import subprocess
import sys
import tempfile
import time

from corvane_core._core import LoadDeserializer

MISSING = object()
IGNORE = 1


def _field(key, element, *, nullable=False, required=True, default=MISSING):
    return (False, key, key, key, default, required, nullable, element, [])


ADDRESS = (False, IGNORE, frozenset(), [
    _field("street", (1,)),
    _field("city", (1,)),
    _field("zip", (1,)),
    _field("country", (1,), required=False, default="NL"),
])

RECORD = (False, IGNORE, frozenset(), [
    _field("id", (2,)),
    _field("name", (1,)),
    _field("email", (1,)),
    _field("age", (2,)),
    _field("score", (3, False)),
    _field("active", (0,)),
    _field("tags", (5, (1,), False)),
    _field("address", (4, ADDRESS)),
    _field("created", (1,)),
    _field("rating", (3, False), nullable=True, required=False, default=None),
    _field("notes", (1,), required=False, default=""),
])


def make_batch(n, seed=7):
    r = random.Random(seed)
    words = ["alpha", "bravo", "charlie", "delta", "echo", "foxtrot", "golf", "hotel", "india", "juliet"]
    out = []
    for i in range(n):
        rec = {
            "id": i,
            "name": f"{r.choice(words).title()} {r.choice(words).title()}",
            "email": f"user{i}@example.org",
            "age": r.randint(18, 90),
            "score": round(r.uniform(0, 100), 3),
            "active": r.random() < 0.7,
            "tags": r.sample(words, r.randint(0, 4)),
            "address": {"street": f"{r.randint(1, 999)} {r.choice(words).title()} Street",
                        "city": r.choice(words).title(), "zip": f"{r.randint(1000, 9999)}AB"},
            "created": f"2024-{r.randint(1, 12):02d}-{r.randint(1, 28):02d}T12:00:00",
            "rating": None if r.random() < 0.2 else r.uniform(1, 5),
        }
        if r.random() < 0.3:
            rec["notes"] = "caf\u00e9 \u2603 " + r.choice(words)
        out.append(rec)
    return out


def pydantic_adapter():
    try:
        import pydantic
    except ImportError:
        return None
    from typing import List, Optional

    class Address(pydantic.BaseModel):
        street: str
        city: str
        zip: str
        country: str = "NL"

    class Record(pydantic.BaseModel):
        id: int
        name: str
        email: str
        age: int
        score: float
        active: bool
        tags: List[str]
        address: Address
        created: str
        rating: Optional[float] = None
        notes: str = ""

    return pydantic.TypeAdapter(List[Record])


VARIANTS = ["run_json(text)", "run(json.loads(text))", "run(orjson.loads(text))", "orjson.loads(text) alone",
            "pydantic validate_json"]


def variant(name, text):
    """A zero-argument callable, or None when its package is absent. Only what the
    variant needs is imported, so that a memory child carries nothing else."""
    d = LoadDeserializer(RECORD, MISSING)
    if name == "run_json(text)":
        return lambda: d.run_json(text, True, None)
    if name == "run(json.loads(text))":
        return lambda: d.run(json.loads(text), True, None)
    if name == "pydantic validate_json":
        adapter = pydantic_adapter()
        return adapter and (lambda: adapter.validate_json(text))
    try:
        import orjson
    except ImportError:
        return None
    if name == "run(orjson.loads(text))":
        return lambda: d.run(orjson.loads(text), True, None)
    return lambda: orjson.loads(text)


def best_time(fn, repeat):
    best = float("inf")
    for _ in range(repeat):
        gc.collect()
        t = time.perf_counter()
        result = fn()
        best = min(best, time.perf_counter() - t)
        del result
    return best


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
                         check=True, env=dict(os.environ))
    return int(out.stdout.strip().splitlines()[-1])


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--records", type=int, default=13000)
    ap.add_argument("--repeat", type=int, default=7)
    ap.add_argument("--child", nargs=2, metavar=("VARIANT", "FILE"), help=argparse.SUPPRESS)
    args = ap.parse_args()
    if args.child:
        return child(*args.child)

    text = json.dumps(make_batch(args.records))
    d = LoadDeserializer(RECORD, MISSING)
    assert d.run_json(text, True, None) == d.run(json.loads(text), True, None)
    print(f"document: {len(text.encode()) / 1e6:.2f} MB, {args.records} records, best of {args.repeat}")

    with tempfile.NamedTemporaryFile("w", suffix=".json", delete=False, encoding="utf-8") as f:
        f.write(text)
        path = f.name
    try:
        rows = []
        for name in VARIANTS:
            fn = variant(name, text)
            if fn:
                rows.append((name, best_time(fn, args.repeat), peak_kib(name, path)))
    finally:
        os.unlink(path)

    base = dict((n, (t, m)) for n, t, m in rows)
    ours_t, ours_m = base["run_json(text)"]
    print(f"\n{'variant':28} {'time ms':>9} {'vs run_json':>12} {'peak MiB':>9}")
    for name, t, m in rows:
        print(f"{name:28} {t * 1e3:9.2f} {t / ours_t:11.2f}x {m / 1024:9.1f}")

    def ratio(name):
        return base[name][0] / ours_t if name in base else None

    print("\nGate: run(json.loads) / run_json >= 2:", f"{ratio('run(json.loads(text))'):.2f}")
    if "run(orjson.loads(text))" in base:
        print("Gate: run(orjson.loads) / run_json > 1:", f"{ratio('run(orjson.loads(text))'):.2f}")
    print("Gate: peak run_json <= peak run(json.loads):",
          f"{ours_m / 1024:.1f} MiB vs {base['run(json.loads(text))'][1] / 1024:.1f} MiB")
    if "orjson.loads(text) alone" in base:
        print("Aim:  orjson.loads / run_json >= 1:", f"{ratio('orjson.loads(text) alone'):.2f}")
    if "pydantic validate_json" in base:
        print("Aim:  pydantic / run_json >= 3:", f"{ratio('pydantic validate_json'):.2f}")


if __name__ == "__main__":
    main()

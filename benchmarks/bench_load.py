"""Load benchmark: LoadDeserializer.run against the plain-Python baseline and pydantic.

    PYTHONPATH=python python benchmarks/bench_load.py [--records N] [--repeat R]

One batch of records as dicts (4 str, 4 int, a float, a bool, a nested record, a list of
three nested records, an optional field with a default, one bounds check), loaded by all
three side by side; prints records per second and the ratios.
"""

import argparse
import gc
import pathlib
import sys
import time
from typing import Annotated

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent))

import baseline_load as bl  # noqa: E402
from corvane_core._core import LoadDeserializer  # noqa: E402

MISSING = object()
TRUTHY = frozenset(bl.Bool.truthy)
FALSY = frozenset(bl.Bool.falsy)


def make_batch(n):
    def item(i, k):
        return {"label": f"item-{i}-{k}", "qty": i % 7 + k, "price": (i % 100) / 4 + k}

    return [
        {
            "id": i, "name": f"user{i}", "email": f"user{i}@example.org", "city": "Lyon",
            "country": "FR", "age": 20 + i % 60, "score": i * 3 % 1000, "visits": i % 97,
            "rank": i % 13, "balance": i * 1.25, "active": i % 2 == 0,
            "home": item(i, 0), "items": [item(i, 1), item(i, 2), item(i, 3)],
        }
        for i in range(n)
    ]


# --- the module's plan: the payload the host compiles for this schema ---------------

def direct(key, element, *, default=MISSING, required=True, validators=()):
    return (False, key, key, key, default, required, False, element, list(validators))


TEXT, INT = (1,), (2,)
FLOAT = (3, False)
BOOL = (12, TRUTHY, FALSY)


def load_plan(fields, many=False):
    return (many, 0, frozenset(f[1] for f in fields), list(fields))


ITEM_PLAN = load_plan([direct("label", TEXT), direct("qty", INT), direct("price", FLOAT)])
RECORD_PLAN = load_plan([
    direct("id", INT), direct("name", TEXT), direct("email", TEXT), direct("city", TEXT),
    direct("country", TEXT), direct("age", INT, validators=[(0, 0, 150, True, True)]),
    direct("score", INT), direct("visits", INT), direct("rank", INT), direct("balance", FLOAT),
    direct("active", BOOL), direct("home", (4, ITEM_PLAN)), direct("items", (5, (4, ITEM_PLAN), False)),
    direct("note", TEXT, default="", required=False),
])


# --- the baseline's schema -------------------------------------------------------------

ITEM_SCHEMA = bl.Schema([bl.Str("label", required=True), bl.Int("qty", required=True),
                         bl.Float("price", required=True)])
RECORD_SCHEMA = bl.Schema([
    bl.Int("id", required=True), bl.Str("name", required=True), bl.Str("email", required=True),
    bl.Str("city", required=True), bl.Str("country", required=True),
    bl.Int("age", required=True, validators=[bl.Range(0, 150)]), bl.Int("score", required=True),
    bl.Int("visits", required=True), bl.Int("rank", required=True),
    bl.Float("balance", required=True), bl.Bool("active", required=True),
    bl.Nested("home", ITEM_SCHEMA, required=True),
    bl.List("items", bl.Nested("item", ITEM_SCHEMA), required=True),
    bl.Str("note", default=""),
])


def pydantic_adapter():
    try:
        from pydantic import BaseModel, ConfigDict, Field, TypeAdapter
    except ImportError:
        return None

    class Item(BaseModel):
        model_config = ConfigDict(extra="forbid")
        label: str
        qty: int
        price: float

    class Record(BaseModel):
        model_config = ConfigDict(extra="forbid")
        id: int
        name: str
        email: str
        city: str
        country: str
        age: Annotated[int, Field(ge=0, le=150)]
        score: int
        visits: int
        rank: int
        balance: float
        active: bool
        home: Item
        items: list[Item]
        note: str = ""

    return TypeAdapter(list[Record])


def best_times(contenders, repeat):
    """Best time of each contender, taken in interleaved rounds so that load from
    elsewhere on the machine falls on all of them alike. Each call starts from a
    collected heap, so none inherits the garbage-collector counts of the one before."""
    best = {name: float("inf") for name, _ in contenders}
    for _ in range(repeat):
        for name, fn in contenders:
            gc.collect()
            t = time.perf_counter()
            fn()
            best[name] = min(best[name], time.perf_counter() - t)
    return best


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--records", type=int, default=10_000)
    ap.add_argument("--repeat", type=int, default=7)
    args = ap.parse_args()

    batch = make_batch(args.records)
    core = LoadDeserializer(RECORD_PLAN, MISSING)
    expected = RECORD_SCHEMA.load(batch, many=True)
    if core.run(batch, True, False) != expected:
        sys.exit("the module's result differs from the baseline's")

    contenders = [
        ("LoadDeserializer.run", lambda: core.run(batch, True, False)),
        ("baseline (Python fields)", lambda: RECORD_SCHEMA.load(batch, many=True)),
    ]
    adapter = pydantic_adapter()
    if adapter is not None:
        contenders.append(("pydantic TypeAdapter.validate_python", lambda: adapter.validate_python(batch)))

    times = best_times(contenders, args.repeat)
    n = args.records
    print(f"load of {n} records, best of {args.repeat}")
    for name, t in times.items():
        print(f"  {name:<38} {t * 1e3:9.2f} ms  {n / t:12,.0f} records/s")
    mine = times["LoadDeserializer.run"]
    for name, t in times.items():
        if name != "LoadDeserializer.run":
            print(f"  speed-up over {name:<30} {t / mine:6.2f}x")


if __name__ == "__main__":
    main()

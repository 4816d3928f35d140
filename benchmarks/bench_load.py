"""Load benchmark: LoadDeserializer.run against the plain-Python baseline and pydantic.

    PYTHONPATH=python python benchmarks/bench_load.py [--records N] [--repeat R]

The dump benchmark's plain batch in the form its dump produces, as dicts (4 str, 4 int,
a float, a bool, a nested record, a list of three nested records), loaded with an
optional field with a default and one bounds check, side by side with pydantic and with
msgspec.convert into Structs; prints records per second and the ratios. Exit status 1
when `run` misses its gate over pydantic's validate_python.
"""

import argparse
import pathlib
import sys
from typing import Annotated

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent))

import baseline_load as bl  # noqa: E402
import data  # noqa: E402
import timing  # noqa: E402
from corvane_core._core import LoadDeserializer  # noqa: E402

MISSING = object()
GATE_PYDANTIC = 3.0  # pydantic validate_python's time / run's
AIM_MSGSPEC = 1.0  # msgspec.convert's time / run's


def make_batch(n):
    """Each record as the plain dump payload writes it: `city` flat, beside the others."""
    _, dicts = data.records(n=n)
    batch = []
    for d in dicts:
        d = dict(d)
        d["city"] = d.pop("address")["city"]
        batch.append(d)
    return batch


# --- the module's plan: the payload the host compiles for this schema ---------------

def direct(key, element, *, default=MISSING, required=True, validators=()):
    return (False, key, key, key, default, required, False, element, list(validators))


TEXT, INT = (1,), (2,)
FLOAT = (3, False)
BOOL = (12, frozenset(bl.Bool.truthy), frozenset(bl.Bool.falsy))


def load_plan(fields, many=False):
    return (many, 0, frozenset(f[1] for f in fields), list(fields))


OWNER_PLAN = load_plan([direct("id", INT), direct("name", TEXT)])
ITEM_PLAN = load_plan([direct("sku", TEXT), direct("qty", INT)])
RECORD_PLAN = load_plan([
    direct("id", INT), direct("age", INT, validators=[(0, 0, 150, True, True)]), direct("score", INT),
    direct("rank", INT), direct("name", TEXT), direct("email", TEXT), direct("city", TEXT),
    direct("code", TEXT), direct("ratio", FLOAT), direct("active", BOOL), direct("owner", (4, OWNER_PLAN)),
    direct("items", (5, (4, ITEM_PLAN), False)), direct("note", TEXT, default="", required=False),
])


# --- the baseline's schema -------------------------------------------------------------

OWNER_SCHEMA = bl.Schema([bl.Int("id", required=True), bl.Str("name", required=True)])
ITEM_SCHEMA = bl.Schema([bl.Str("sku", required=True), bl.Int("qty", required=True)])
RECORD_SCHEMA = bl.Schema([
    bl.Int("id", required=True), bl.Int("age", required=True, validators=[bl.Range(0, 150)]),
    bl.Int("score", required=True), bl.Int("rank", required=True), bl.Str("name", required=True),
    bl.Str("email", required=True), bl.Str("city", required=True), bl.Str("code", required=True),
    bl.Float("ratio", required=True), bl.Bool("active", required=True),
    bl.Nested("owner", OWNER_SCHEMA, required=True),
    bl.List("items", bl.Nested("item", ITEM_SCHEMA), required=True),
    bl.Str("note", default=""),
])


def pydantic_adapter():
    try:
        from pydantic import BaseModel, ConfigDict, Field, TypeAdapter
    except ImportError:
        return None

    class Owner(BaseModel):
        model_config = ConfigDict(extra="forbid")
        id: int
        name: str

    class Item(BaseModel):
        model_config = ConfigDict(extra="forbid")
        sku: str
        qty: int

    class Record(BaseModel):
        model_config = ConfigDict(extra="forbid")
        id: int
        age: Annotated[int, Field(ge=0, le=150)]
        score: int
        rank: int
        name: str
        email: str
        city: str
        code: str
        ratio: float
        active: bool
        owner: Owner
        items: list[Item]
        note: str = ""

    return TypeAdapter(list[Record])


def msgspec_convert():
    """msgspec.convert into Structs of the same shape and checks, or None without msgspec."""
    try:
        import msgspec
    except ImportError:
        return None

    class Owner(msgspec.Struct, forbid_unknown_fields=True):
        id: int
        name: str

    class Item(msgspec.Struct, forbid_unknown_fields=True):
        sku: str
        qty: int

    class Record(msgspec.Struct, forbid_unknown_fields=True):
        id: int
        age: Annotated[int, msgspec.Meta(ge=0, le=150)]
        score: int
        rank: int
        name: str
        email: str
        city: str
        code: str
        ratio: float
        active: bool
        owner: Owner
        items: list[Item]
        note: str = ""

    return lambda batch: msgspec.convert(batch, list[Record]), msgspec.to_builtins


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--records", type=int, default=data.N)
    ap.add_argument("--repeat", type=int, default=7)
    ap.add_argument("--gc", action="store_true", help="keep the garbage collector on while timing")
    timing.add_clock_option(ap)
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
    structs = msgspec_convert()
    if structs is not None:
        convert, to_builtins = structs
        if to_builtins(convert(batch)) != expected:
            sys.exit("msgspec.convert loads something else")
        contenders.append(("msgspec.convert to Structs", lambda: convert(batch)))

    times = timing.best_times(contenders, args.repeat, collector=args.gc, clock=timing.CLOCKS[args.clock])
    n = args.records
    print(f"load of {n} records, best of {args.repeat}, collector {'on' if args.gc else 'off'}, {args.clock} time")
    for name, t in times.items():
        print(f"  {name:<38} {t * 1e3:9.2f} ms  {n / t:12,.0f} records/s")
    mine = times["LoadDeserializer.run"]
    for name, t in times.items():
        if name != "LoadDeserializer.run":
            print(f"  speed-up over {name:<30} {t / mine:6.2f}x")
    missed = 0
    for name, bound, kind in (("pydantic TypeAdapter.validate_python", GATE_PYDANTIC, "gate"),
                              ("msgspec.convert to Structs", AIM_MSGSPEC, "aim")):
        if name in times:
            met = times[name] / mine >= bound
            missed += kind == "gate" and not met
            print(f"  {kind}: >= {bound}x {name}: {'met' if met else 'missed'}")
    return 1 if missed else 0


if __name__ == "__main__":
    sys.exit(main())

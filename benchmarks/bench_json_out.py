"""Dump-to-JSON benchmark: DumpSerializer.run_json against dump + an encoder, and pydantic.

    python benchmarks/bench_json_out.py [--records N] [--repeat R]

Same batches as the dump benchmark (benchmarks/data.py). Side by side, per batch:
run_json(objs, True); json.dumps(run(objs, True)); orjson.dumps(run(objs, True));
orjson.dumps and msgspec's encoder of the same records as dataclasses (no schema at all);
pydantic's dump_json on models of the same shape. The plain batch is gated (exit status 1 when a
ratio is below its gate); the rich batch is reported only.
"""

import argparse
import dataclasses
import datetime
import json
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import data  # noqa: E402
import timing  # noqa: E402
import msgspec  # noqa: E402
import orjson  # noqa: E402
from corvane_core import DumpSerializer  # noqa: E402

GATES = {"json.dumps(run)": 3.0, "orjson.dumps(run)": 1.0, "pydantic dump_json": 1.5}
AIMS = {"orjson dataclasses": 1.0, "msgspec dataclasses": 1.0, "pydantic dump_json": 2.0}


MISSING = data.MISSING


@dataclasses.dataclass
class PersonD:
    id: int
    name: str


@dataclasses.dataclass
class ItemD:
    sku: str
    qty: int


@dataclasses.dataclass
class RecordD:
    id: int
    age: int
    score: int
    rank: int
    name: str
    email: str
    city: str
    code: str
    ratio: float
    active: bool
    owner: PersonD
    items: list


@dataclasses.dataclass
class RichRecordD(RecordD):
    created: datetime.datetime
    status: data.Status


def as_dataclasses(dicts, rich):
    cls = RichRecordD if rich else RecordD
    out = []
    for d in dicts:
        v = {k: d[k] for k in d if k not in ("address", "owner", "items")}
        out.append(
            cls(
                **v,
                city=d["address"]["city"],
                owner=PersonD(**d["owner"]),
                items=[ItemD(**i) for i in d["items"]],
            )
        )
    return out


def pydantic_models(dicts, rich):
    from pydantic import TypeAdapter

    model = data.pydantic_dump_model(rich)
    models = [model.model_validate(d | {"city": d["address"]["city"]}) for d in dicts]
    return models, TypeAdapter(list[model])


def measure(rich, n, repeat, clock):
    plain_payload, rich_payload = data.payloads(MISSING)
    plan = DumpSerializer(rich_payload if rich else plain_payload, MISSING)
    objs, dicts = data.records(rich=rich, n=n)
    dcs = as_dataclasses(dicts, rich)
    models, adapter = pydantic_models(dicts, rich)
    encoder = msgspec.json.Encoder()

    text = plan.run_json(objs, True)
    expected = plan.run(objs, True)
    assert text == json.dumps(expected), "run_json differs from json.dumps(run(...))"
    assert json.loads(adapter.dump_json(models)) == expected, "pydantic dumps something else"
    if not rich:  # orjson writes datetimes and enums its own way
        assert orjson.loads(orjson.dumps(dcs)) == expected, "the dataclasses hold something else"
        assert msgspec.json.encode(dcs) == orjson.dumps(dcs), "msgspec writes the dataclasses otherwise"

    best = timing.best_times([
        ("run_json", lambda: plan.run_json(objs, True)),
        ("json.dumps(run)", lambda: json.dumps(plan.run(objs, True))),
        ("orjson.dumps(run)", lambda: orjson.dumps(plan.run(objs, True))),
        ("orjson dataclasses", lambda: orjson.dumps(dcs)),
        ("msgspec dataclasses", lambda: encoder.encode(dcs)),
        ("pydantic dump_json", lambda: adapter.dump_json(models)),
    ], repeat, clock=clock)
    t_fused = best["run_json"]
    return [(label, t, None if label == "run_json" else t / t_fused) for label, t in best.items()]


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--records", type=int, default=data.N)
    ap.add_argument("--repeat", type=int, default=9)
    timing.add_clock_option(ap)
    args = ap.parse_args()

    print(f"dump to JSON of {args.records} records, best of {args.repeat} ({args.clock} time); 'x fused' is that time / run_json's")
    print(f"{'batch':<7}{'implementation':<21}{'ms':>9}{'records/s':>13}{'x fused':>9}")
    failures, misses = [], []
    for rich in (False, True):
        batch = "rich" if rich else "plain"
        for impl, t, ratio in measure(rich, args.records, args.repeat, timing.CLOCKS[args.clock]):
            shown = "" if ratio is None else f"{ratio:.2f}"
            print(f"{batch:<7}{impl:<21}{t * 1e3:>9.2f}{args.records / t:>13,.0f}{shown:>9}")
            if rich or ratio is None:
                continue
            gate, aim = GATES.get(impl), AIMS.get(impl)
            if gate is not None and ratio < gate:
                failures.append(f"run_json is {ratio:.2f}x {impl}, gate {gate}x")
            if aim is not None and ratio < aim:
                misses.append(f"run_json is {ratio:.2f}x {impl}, aim {aim}x")
    print("gate (plain batch): " + ", ".join(f">= {v}x {k}" for k, v in GATES.items()) + ": "
          + ("FAIL" if failures else "PASS"))
    print("aim (plain batch): " + ", ".join(f">= {v}x {k}" for k, v in AIMS.items()) + ": "
          + ("missed" if misses else "met"))
    for f in failures + misses:
        print("  " + f)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())

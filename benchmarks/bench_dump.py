"""Dump benchmark: DumpSerializer.run against the pure-Python baseline and pydantic.

    python benchmarks/bench_dump.py [--records N] [--repeat R]

The plain batch is gated (exit status 1 when a ratio is below its gate); the rich
batch adds a strftime-formatted datetime and an enum member, whose Python calls no
native code can avoid, and is reported only.
"""

import argparse
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import baseline_dump  # noqa: E402
import data  # noqa: E402
import timing  # noqa: E402
from corvane_core import DumpSerializer  # noqa: E402

GATE_BASELINE, AIM_BASELINE = 3.0, 5.0
GATE_PYDANTIC, AIM_PYDANTIC = 1.5, 3.0


MISSING = data.MISSING


def pydantic_adapter(rich):
    from pydantic import TypeAdapter

    model = data.pydantic_dump_model(rich)
    return model, TypeAdapter(list[model])


def hand_written(rich):
    """The same dump written out by hand for this one shape: for scale only."""
    fmt = data.DATE_FORMAT

    def one(o):
        owner = o.owner
        out = {
            "id": v if type(v := o.id) is int else int(v),
            "age": v if type(v := o.age) is int else int(v),
            "score": v if type(v := o.score) is int else int(v),
            "rank": v if type(v := o.rank) is int else int(v),
            "name": str(o.name),
            "email": str(o.email),
            "city": str(o.address.city),
            "code": str(o.code),
            "ratio": v if type(v := o.ratio) is float else float(v),
            "active": o.active,
            "owner": {"id": v if type(v := owner.id) is int else int(v), "name": str(owner.name)},
            "items": [{"sku": str(i.sku), "qty": v if type(v := i.qty) is int else int(v)} for i in o.items],
        }
        if rich:
            out["created"] = o.created.strftime(fmt)
            out["status"] = o.status.value
        return out

    return lambda objs: [one(o) for o in objs]


def measure(rich, n, repeat, clock):
    plain_payload, rich_payload = data.payloads(MISSING)
    payload = rich_payload if rich else plain_payload
    plan = DumpSerializer(payload, MISSING)
    baseline = baseline_dump.Schema(payload, MISSING)
    objs, dicts = data.records(rich=rich, n=n)

    expected = baseline.dump(objs, True)
    assert plan.run(objs, True) == expected, "run differs from the baseline on objects"
    assert plan.run(dicts, True) == expected, "run differs from the baseline on dicts"
    assert hand_written(rich)(objs) == expected, "the hand-written loop dumps something else"
    model, adapter = pydantic_adapter(rich)
    models = [model.model_validate(d | {"city": d["address"]["city"]}) for d in dicts]
    assert adapter.dump_python(models) == expected, "pydantic dumps something else"

    cases = {
        ("objects", "run"): lambda: plan.run(objs, True),
        ("objects", "baseline"): lambda: baseline.dump(objs, True),
        ("objects", "hand-written loop"): lambda: hand_written(rich)(objs),
        ("dicts", "run"): lambda: plan.run(dicts, True),
        ("dicts", "baseline"): lambda: baseline.dump(dicts, True),
        ("models", "pydantic"): lambda: adapter.dump_python(models),
    }
    best = timing.best_times(cases.items(), repeat, clock=clock)
    rows = []
    for label in ("objects", "dicts"):
        t_run = best[(label, "run")]
        for (input_, impl), t in best.items():
            if input_ == label or input_ == "models":
                rows.append((label, impl, t, None if impl == "run" else t / t_run))
    return rows


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--records", type=int, default=data.N)
    ap.add_argument("--repeat", type=int, default=21)
    timing.add_clock_option(ap)
    args = ap.parse_args()

    print(
        f"dump of {args.records} records, best of {args.repeat} round-robin rounds of {args.clock} time, "
        "results freed off the clock; "
        "'x run' is that time / run's time (pydantic dumps its own model instances of the same data)"
    )
    print(f"{'batch':<7}{'input':<9}{'implementation':<20}{'ms':>9}{'records/s':>13}{'x run':>8}")
    failures = []
    for rich in (False, True):
        batch = "rich" if rich else "plain"
        for label, impl, t, ratio in measure(rich, args.records, args.repeat, timing.CLOCKS[args.clock]):
            rate = args.records / t
            shown = "" if ratio is None else f"{ratio:.2f}"
            print(f"{batch:<7}{label:<9}{impl:<20}{t * 1e3:>9.2f}{rate:>13,.0f}{shown:>8}")
            if rich or ratio is None:
                continue
            gate = {"baseline": GATE_BASELINE, "pydantic": GATE_PYDANTIC}.get(impl)
            if gate is not None and ratio < gate:
                failures.append(f"plain {label}: run is {ratio:.2f}x {impl}, gate {gate}x")
    print(
        f"gate (plain batch): >= {GATE_BASELINE}x baseline (aim {AIM_BASELINE}x), "
        f">= {GATE_PYDANTIC}x pydantic (aim {AIM_PYDANTIC}x): " + ("FAIL" if failures else "PASS")
    )
    for f in failures:
        print("  " + f)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())

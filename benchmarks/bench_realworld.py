"""Real-world benchmark: the fused dump and load against the two-step paths and the
native parsers and encoders, on three public JSON documents.

    PYTHONPATH=python python benchmarks/bench_realworld.py [--dump | --load] [--doc NAME ...] [--repeat R]

The documents are read from $CORVANE_REALWORLD or ../shared/realworld; their schemas
are the frozen ones of realworld_schemas.py.

Dump: the records as plain objects read by attribute (maps stay dicts), written by
run_json, orjson.dumps(run(...)), json.dumps(run(...)), orjson.dumps of the already
dumped data alone, and the pure path with json.dumps.
Load: run_json, run(orjson.loads(...)), run(json.loads(...)), orjson.loads alone,
msgspec's untyped decoder alone and the pure path, on two inputs (the records as
json.dumps writes them; the file's own bytes, loaded with the document's schema) under
two unknown-key policies (ignore, keep); the slow references are timed under the ignore
policy only.

Every contender is first checked to give the same result, with nothing falling back.
Ratios are a contender's time (CPU time unless --clock wall) over run_json's, taken side
by side in interleaved rounds with the collector off during each call: 3R rounds for run_json and the contenders it is
gated or aimed against, R rounds of their own for the slow references (json.dumps, the
pure path). Exit status 1 when a gate is missed.
"""

import argparse
import gc
import json
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import msgspec  # noqa: E402
import orjson  # noqa: E402
import realworld_schemas as rs  # noqa: E402
import timing  # noqa: E402
from corvane_core import _pure  # noqa: E402
from corvane_core._core import AccelFallback  # noqa: E402
from corvane_core.schema import EXCLUDE, INCLUDE  # noqa: E402

# run_json's speed-up over orjson.dumps(run(...)).
DUMP_GATES = {"twitter": 1.2, "citm_catalog": 1.5, "canada": 1.2}
DUMP_AIM = 1.0  # over orjson.dumps of the dumped data alone
# run_json's speed-up on the json.dumps text under the ignore policy.
LOAD_GATE_TWO_STEP, LOAD_GATE_ORJSON, LOAD_AIM_ORJSON = 1.5, 0.9, 1.2

POLICIES = {"ignore": EXCLUDE, "keep": INCLUDE}
OURS = "run_json"


class Outcome:
    def __init__(self):
        self.gates, self.aims = [], []

    def gate(self, text, ratio, bound):
        self.gates.append((text, ratio, bound))

    def aim(self, text, ratio, bound):
        self.aims.append((text, ratio, bound))

    def report(self):
        for title, rows, good, bad in (("gates", self.gates, "met", "MISSED"), ("aims", self.aims, "met", "missed")):
            print(f"\n{title}:")
            for text, ratio, bound in rows:
                print(f"  {text:<62} {ratio:6.2f}x  >= {bound}x  {good if ratio >= bound else bad}")
        return any(ratio < bound for _, ratio, bound in self.gates)




def interleaved(groups, clock):
    """Best times of each (contenders, rounds) group. The heap built so far is frozen
    meanwhile: it takes no part in the calls, and the collection before each call
    would otherwise walk the documents' data every time."""
    gc.collect()
    gc.freeze()
    try:
        best = {}
        for contenders, rounds in groups:
            best.update(timing.best_times(contenders, rounds, clock=clock))
        return best
    finally:
        gc.unfreeze()


def exact(value):
    # Tells 1 from 1.0 and True from 1, which == does not.
    return json.dumps(value, sort_keys=True)


def accelerated(what, fn):
    try:
        return fn()
    except AccelFallback:
        sys.exit(f"{what} fell back")


def dump_side(doc, folder, repeat, clock, outcome):
    data, objs = rs.load_records(doc, folder)
    plan, many = doc.record.plans(EXCLUDE)[0], doc.many
    text = accelerated(f"{doc.name}: run_json", lambda: plan.run_json(objs, many))
    dumped = accelerated(f"{doc.name}: run", lambda: plan.run(objs, many))
    if exact(dumped) != exact(data):
        sys.exit(f"{doc.name}: run does not give back the records")
    if text != json.dumps(dumped):
        sys.exit(f"{doc.name}: run_json differs from json.dumps(run(...))")
    if text != json.dumps(_pure.dump(doc.record, objs, many)):
        sys.exit(f"{doc.name}: run_json differs from the pure path")

    best = interleaved([
        ([
            (OURS, lambda: plan.run_json(objs, many)),
            ("orjson.dumps(run)", lambda: orjson.dumps(plan.run(objs, many))),
            ("orjson.dumps alone", lambda: orjson.dumps(dumped)),
        ], 3 * repeat),
        ([
            ("json.dumps(run)", lambda: json.dumps(plan.run(objs, many))),
            ("pure + json.dumps", lambda: json.dumps(_pure.dump(doc.record, objs, many))),
        ], repeat),
    ], clock)
    print(f"\ndump {doc.name}: {len(text.encode()) / 1e6:.2f} MB of JSON, best of {3 * repeat} "
          f"(slow references {repeat})")
    for name, t in best.items():
        print(f"  {name:<22} {t * 1e3:9.2f} ms {t / best[OURS]:7.2f}x")
    outcome.gate(f"dump {doc.name}: run_json / orjson.dumps(run)", best["orjson.dumps(run)"] / best[OURS],
                 DUMP_GATES[doc.name])
    outcome.aim(f"dump {doc.name}: run_json / orjson.dumps alone", best["orjson.dumps alone"] / best[OURS], DUMP_AIM)


def load_side(doc, folder, repeat, clock, outcome):
    data, _ = rs.load_records(doc, folder)
    raw = doc.raw(folder)
    inputs = {  # name: (text, schema, many, what it must load to)
        "json.dumps": (json.dumps(data), doc.record, doc.many, data),
        "file": (raw, doc.document, False, json.loads(raw)),
    }
    decoder = msgspec.json.Decoder()
    contenders, references, columns = [], [], []
    for input_name, (text, schema, many, expected) in inputs.items():
        for policy_name, policy in POLICIES.items():
            plan = schema.plans(policy)[1]
            column = f"{input_name}/{policy_name}"
            pure = _pure.load(schema, json.loads(text), many, None, policy)
            if pure != expected:
                sys.exit(f"{doc.name} {column}: the pure path does not give back the input")
            for name, fn in ((OURS, lambda: plan.run_json(text, many, None)),
                             ("run", lambda: plan.run(orjson.loads(text), many, None))):
                if exact(accelerated(f"{doc.name} {column}: {name}", fn)) != exact(pure):
                    sys.exit(f"{doc.name} {column}: {name} differs from the pure path")
            columns.append(column)
            contenders += [
                ((column, OURS), lambda p=plan, t=text, m=many: p.run_json(t, m, None)),
                ((column, "run(orjson.loads)"), lambda p=plan, t=text, m=many: p.run(orjson.loads(t), m, None)),
            ]
            if policy_name == "ignore":  # the slow references once per input, to keep the run short
                references += [
                    ((input_name, "run(json.loads)"), lambda p=plan, t=text, m=many: p.run(json.loads(t), m, None)),
                    ((input_name, "pure"),
                     lambda s=schema, t=text, m=many, q=policy: _pure.load(s, json.loads(t), m, None, q)),
                ]
        contenders += [
            ((input_name, "orjson.loads alone"), lambda t=text: orjson.loads(t)),
            ((input_name, "msgspec decode alone"), lambda t=text: decoder.decode(t)),
        ]
    # The gated contenders take more rounds, so that the shared machine's noise leaves
    # them; the slow references take fewer, in rounds of their own.
    best = interleaved([(contenders, 3 * repeat), (references, repeat)], clock)

    def time_of(column, name):
        return best.get((column, name), best.get((column.split("/")[0], name)))

    def ratio(column, name):
        return time_of(column, name) / best[(column, OURS)]

    sizes = ", ".join(f"{k} {len(v[0]) / 1e6:.2f} MB" for k, v in inputs.items())
    print(f"\nload {doc.name} ({sizes}), best of {3 * repeat} (slow references {repeat}): "
          "ms and x run_json of the same column")
    print(f"  {'':<22}" + "".join(f"{c:>22}" for c in columns))
    for name in (OURS, "run(orjson.loads)", "run(json.loads)", "orjson.loads alone", "msgspec decode alone", "pure"):
        cells = []
        for column in columns:
            t = time_of(column, name)
            if name in ("run(json.loads)", "pure") and column.endswith("keep"):
                t = None  # timed under the ignore policy only
            cells.append("" if t is None else f"{t * 1e3:11.2f} ms {ratio(column, name):6.2f}x")
        print(f"  {name:<22}" + "".join(f"{c:>22}" for c in cells))
    gated = "json.dumps/ignore"
    outcome.gate(f"load {doc.name}: run_json / run(orjson.loads)", ratio(gated, "run(orjson.loads)"),
                 LOAD_GATE_TWO_STEP)
    outcome.gate(f"load {doc.name}: run_json / orjson.loads alone", ratio(gated, "orjson.loads alone"),
                 LOAD_GATE_ORJSON)
    outcome.aim(f"load {doc.name}: run_json / orjson.loads alone", ratio(gated, "orjson.loads alone"),
                LOAD_AIM_ORJSON)


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    side = ap.add_mutually_exclusive_group()
    side.add_argument("--dump", action="store_true", help="the dump side only")
    side.add_argument("--load", action="store_true", help="the load side only")
    ap.add_argument("--doc", action="append", choices=sorted(rs.DOCUMENTS), help="one document (repeatable)")
    ap.add_argument("--repeat", type=int, default=5)
    timing.add_clock_option(ap)
    args = ap.parse_args()

    folder = rs.realworld_dir()
    if folder is None:
        print("skipped: the real-world documents are absent (set CORVANE_REALWORLD or put them in "
              "../shared/realworld)")
        return 0
    print(f"CPython {sys.version.split()[0]}, orjson {orjson.__version__}, msgspec {msgspec.__version__}, "
          f"{args.clock} time")
    clock = timing.CLOCKS[args.clock]
    outcome = Outcome()
    for name in args.doc or rs.DOCUMENTS:
        doc = rs.DOCUMENTS[name]
        if not args.load:
            dump_side(doc, folder, args.repeat, clock, outcome)
        if not args.dump:
            load_side(doc, folder, args.repeat, clock, outcome)
    return 1 if outcome.report() else 0


if __name__ == "__main__":
    sys.exit(main())

"""Several Python threads on one plan at once. Host callables give up the interpreter
lock in the middle of calls, so the threads interleave inside dumps and loads of the
same plan; every result is checked against the one computed alone beforehand."""

import gc
import json
import sys
import threading
import time

import pytest

from corvane_core import AccelFallback, Schema
from corvane_core import fields as f
from corvane_core._core import DumpSerializer, LoadDeserializer
from tests.support import dump_payloads as dp

THREADS = 6
ROUNDS = 60


def yielding(value):
    time.sleep(0)  # lets another thread run in the middle of this call
    return value


class Yield(f.Custom):
    def _serialize(self, value, attr, obj):
        return yielding(value)

    def _deserialize(self, value, attr, data):
        return yielding(value)


class Kid(Schema):
    n = f.Int()
    y = Yield()


class Person(Schema):
    id = f.Int()
    name = f.Str()
    tags = f.List(Yield())
    kids = f.Nested(Kid, many=True)
    pair = f.Tuple([f.Str(), f.Float()])
    meta = f.Dict(keys=f.Str(), values=f.Int())


def person(i):
    return {"id": i, "name": f"p{i}", "tags": [f"t{i}", i], "kids": [{"n": i + k, "y": k} for k in range(3)],
            "pair": [str(i), i / 2], "meta": {f"m{i}": i}}


PEOPLE = [person(i) for i in range(8)]
BAD = dict(person(99), kids=[{"n": "x"}])  # the load falls back on it
SCHEMA = Person()
DUMP, LOAD = SCHEMA.dump_plan, SCHEMA.load_plan
TEXT = json.dumps(PEOPLE)

# (call, expected) pairs over the shared plans; the expected value is taken alone.
CALLS = {
    "dump_run": lambda: DUMP.run(PEOPLE, True),
    "dump_run_json": lambda: DUMP.run_json(PEOPLE, True),
    "load_run": lambda: LOAD.run(PEOPLE, True, None),
    "load_run_partial": lambda: LOAD.run([{"kids": [{"y": 1}]}], True, ("kids.n",)),
    "load_run_json": lambda: LOAD.run_json(TEXT, True, None),
    "load_fallback": lambda: LOAD.run([*PEOPLE, BAD], True, None),
    "load_json_fallback": lambda: LOAD.run_json(TEXT[:-1], True, None),
}


def outcome(fn):
    try:
        return ("ok", fn())
    except AccelFallback as exc:
        return ("fallback", exc.args)
    except Exception as exc:
        return ("error", type(exc))


EXPECTED = {name: outcome(fn) for name, fn in CALLS.items()}


@pytest.fixture
def busy_switching():
    old = sys.getswitchinterval()
    sys.setswitchinterval(1e-5)
    yield
    sys.setswitchinterval(old)


def run_threads(target, n=THREADS):
    errors = []
    barrier = threading.Barrier(n)

    def body(index):
        try:
            barrier.wait()
            target(index)
        except BaseException as exc:  # reported by the main thread
            errors.append((index, exc))

    threads = [threading.Thread(target=body, args=(i,)) for i in range(n)]
    for t in threads:
        t.start()
    for t in threads:
        t.join(120)
    assert not any(t.is_alive() for t in threads), "a thread hung"
    assert not errors, errors[:3]


def test_expected_outcomes_cover_success_and_fallback():
    kinds = {name: kind for name, (kind, _) in EXPECTED.items()}
    assert kinds == {"dump_run": "ok", "dump_run_json": "ok", "load_run": "ok", "load_run_partial": "ok",
                     "load_run_json": "ok", "load_fallback": "fallback", "load_json_fallback": "fallback"}


@pytest.mark.parametrize("name", sorted(CALLS))
def test_one_call_from_many_threads(name, busy_switching):
    def work(_):
        for _ in range(ROUNDS):
            got = outcome(CALLS[name])
            assert got == EXPECTED[name], (name, got)

    run_threads(work)


def test_all_calls_mixed_across_threads(busy_switching):
    names = sorted(CALLS)

    def work(index):
        for r in range(ROUNDS):
            name = names[(index + r) % len(names)]
            assert outcome(CALLS[name]) == EXPECTED[name], name

    run_threads(work, n=len(names))


def test_depth_is_counted_per_thread(busy_switching):
    """A thread deep in nested re-entrant dumps must not push another thread over the
    nesting limit, nor be pushed by it."""
    holder = {}

    def descend(value, *_):
        time.sleep(0)
        if value <= 0:
            return "bottom"
        return holder["plan"].run({"v": value - 1}, False)

    holder["plan"] = DumpSerializer(dp.schema(dp.field("v", dp.call_field(descend))), dp.MISSING)
    deep = 300  # each level is a run plus a nested call: far below the limit alone

    def work(index):
        for _ in range(5):
            out = holder["plan"].run({"v": deep}, False)
            for _ in range(deep):
                out = out["v"]
            assert out == {"v": "bottom"}

    run_threads(work, n=4)
    with pytest.raises(RecursionError):
        holder["plan"].run({"v": 5000}, False)
    holder.clear()


def test_plans_built_and_collected_while_others_run(busy_switching):
    payload = Person.dump_payload()
    load_payload = Person.load_payload()

    def work(index):
        for r in range(ROUNDS):
            if index % 3 == 0:
                d = DumpSerializer(payload, dp.MISSING)
                del d
                LoadDeserializer(load_payload, dp.MISSING)
                gc.collect()
            elif index % 3 == 1:
                assert outcome(CALLS["dump_run_json"]) == EXPECTED["dump_run_json"]
            else:
                assert outcome(CALLS["load_run_json"]) == EXPECTED["load_run_json"]

    run_threads(work)


def test_host_code_switching_threads_mid_record_sees_its_own_record(busy_switching):
    """The yielding converter runs while other threads load other records with the
    same plan; each thread must get back exactly its own data."""

    def work(index):
        mine = [person(100 * index + k) for k in range(4)]
        want = LOAD.run(mine, True, None)
        text = json.dumps(mine)
        for _ in range(ROUNDS // 2):
            assert LOAD.run(mine, True, None) == want
            assert LOAD.run_json(text, True, None) == want
            assert json.loads(DUMP.run_json(mine, True)) == json.loads(json.dumps(DUMP.run(mine, True)))

    run_threads(work)

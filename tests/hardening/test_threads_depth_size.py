"""Threads interleaving inside calls of shared plans; depth of 100,000, which raises
RecursionError or falls back, never overflows the C stack, also with the interpreter's
limit at a million; and peak memory of huge inputs, read in a child process."""

import json
import os
import subprocess
import sys
import threading
import time

import pytest

from corvane_core import AccelFallback, DumpSerializer, LoadDeserializer, Schema
from corvane_core import fields as f
from tests.support.parity import MISSING, D, L, Outcome, dfield, dplan, lfield, lplan


class Yield(f.Custom):
    def _serialize(self, value, attr, obj):
        time.sleep(0)  # lets another thread run in the middle of this call
        return value

    _deserialize = _serialize


class Kid(Schema):
    n = f.Int()
    y = Yield()


class Person(Schema):
    id = f.Int()
    tags = f.List(Yield())
    kids = f.Nested(Kid, many=True)
    pair = f.Tuple([f.Str(), f.Float()])


def person(i):
    return {"id": i, "tags": [f"t{i}", i], "kids": [{"n": i + k, "y": k} for k in range(3)], "pair": [str(i), i / 2]}


DUMP, LOAD = Person.plans()


def calls(people):
    text = json.dumps(people)
    return [lambda: DUMP.run(people, True), lambda: DUMP.run_json(people, True), lambda: LOAD.run(people, True, None),
            lambda: LOAD.run([{"kids": [{"y": 1}]}], True, ("kids.n",)), lambda: LOAD.run_json(text, True, None),
            lambda: LOAD.run([*people, {"kids": [{"n": "x"}]}], True, None), lambda: LOAD.run_json(text[:-1], True, None),
            lambda: (DumpSerializer(Person.dump_payload(), MISSING), LoadDeserializer(Person.load_payload(), MISSING))
            and None]


@pytest.fixture
def busy_switching():
    old = sys.getswitchinterval()
    sys.setswitchinterval(1e-5)
    yield
    sys.setswitchinterval(old)


def run_threads(target, n):
    errors, barrier = [], threading.Barrier(n)

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
    assert not any(t.is_alive() for t in threads) and not errors, errors[:3]


def test_threads_share_plans(busy_switching):
    """Each thread loads and dumps its own records on the shared plans and must get
    exactly what the same calls give alone, while other threads do the same."""
    def work(index):
        mine = calls([person(100 * index + k) for k in range(4)])
        alone = [(o.kind, o.value) for o in map(Outcome, mine)]
        for r in range(40):
            for k in range(len(mine)):
                c = (index + r + k) % len(mine)
                o = Outcome(mine[c])
                assert (o.kind, o.value) == alone[c], c

    run_threads(work, 6)


def test_depth_is_counted_per_thread(busy_switching):
    holder = {}

    def descend(value, *_):
        time.sleep(0)
        return holder["plan"].run({"v": value - 1}, False) if value > 0 else "bottom"

    holder["plan"] = dplan(dfield("v", (D.CALL_FIELD, descend)))

    def work(index):  # each level is a run plus a nested call: far below the limit alone
        for _ in range(5):
            out = holder["plan"].run({"v": 300}, False)
            for _ in range(300):
                out = out["v"]
            assert out == {"v": "bottom"}

    run_threads(work, 4)
    with pytest.raises(RecursionError):
        holder["plan"].run({"v": 5000}, False)


@pytest.fixture(params=[None, 1_000_000], ids=["default_limit", "limit_1e6"])
def recursion_limit(request):
    old = sys.getrecursionlimit()
    sys.setrecursionlimit(request.param or old)
    yield
    sys.setrecursionlimit(old)


def chain(wrap, leaf, depth=100_000):
    for _ in range(depth):
        leaf = wrap(leaf)
    return leaf


DUMP_LEVELS = {
    "list_of": lambda e: (D.LIST_OF, e), "enum_member": lambda e: (D.ENUM_MEMBER, False, e),
    "dict_of": lambda e: (D.DICT_OF, None, e), "tuple_of": lambda e: (D.TUPLE_OF, (e,)),
    "nested": lambda e: (D.NESTED, (None, [dfield("v", e)]), False),
    "nested_key": lambda e: (D.NESTED_KEY, (None, [dfield("v", e)]), "v", False),
}


@pytest.mark.parametrize("kind", sorted(DUMP_LEVELS))
def test_deep_and_cyclic_dump_payloads_raise_recursion_error(kind, recursion_limit):
    fields = []
    fields.append(dfield("k", DUMP_LEVELS[kind]((D.NESTED, (None, fields), False))))
    for payload in ((None, [dfield("v", chain(DUMP_LEVELS[kind], (D.PASSTHROUGH,)))]), (None, fields)):
        with pytest.raises(RecursionError):
            DumpSerializer(payload, MISSING)
    fields.clear()


LOAD_LEVELS = {
    "nested": lambda e: (L.NESTED, (False, 1, None, [lfield("v", e)])),
    "nested_many": lambda e: (L.NESTED, (True, 1, None, [lfield("v", e)])),
    "nested_key": lambda e: (L.NESTED_KEY, (False, 1, None, [lfield("v", e)]), "v", False),
    "list_of": lambda e: (L.LIST_OF, e, False), "enum_member": lambda e: (L.ENUM_MEMBER, object, True, e),
    "dict_of_key": lambda e: (L.DICT_OF, e, [], None, []), "dict_of_value": lambda e: (L.DICT_OF, None, [], e, []),
    "tuple_of": lambda e: (L.TUPLE_OF, ((0,), e)),
}


@pytest.mark.parametrize("kind", sorted(LOAD_LEVELS))
def test_deep_and_cyclic_load_payloads_raise_recursion_error(kind, recursion_limit):
    fields = []
    fields.append(lfield("v", LOAD_LEVELS[kind]((L.NESTED, (False, 1, None, fields)))))
    for element in (chain(LOAD_LEVELS[kind], (0,)), fields[0][7]):
        with pytest.raises(RecursionError):
            lplan(lfield("v", element))
    fields.clear()
    # A validator list may be any iterable; a long one is width, not depth.
    wide = lplan(lfield("v", (L.DICT_OF, None, iter([(0, None, None, True, True)] * 100_000), None, ())))
    assert wide.run({"v": {"a": 1}}, False, None) == {"v": {"a": 1}}


SubList = type("SubList", (list,), {})
VALUES = {"list": lambda v: [v], "tuple": lambda v: (v,), "dict": lambda v: {"k": v}, "list_subclass": lambda v: SubList([v])}


@pytest.mark.parametrize("value", sorted(VALUES))
def test_deep_values_pass_through_and_fall_back_as_text(value, recursion_limit):
    v = chain(VALUES[value], 0)
    p = dplan(dfield("v"), dfield("w", (D.LIST_OF, (0,))))
    assert p.run({"v": v, "w": [v]}, False)["v"] is v  # passed through, not walked
    for obj in ({"v": v}, {"w": [v]}):
        with pytest.raises((AccelFallback, RecursionError)):  # json.dumps raises RecursionError itself
            p.run_json(obj, False)
    got = lplan(lfield("v"), lfield("w", (L.LIST_OF, (0,), False)), lfield("c", (L.DICT_COPY,))).run(
        {"v": v, "w": [v], "c": {"k": v}}, False, None)
    assert got["v"] is v and got["w"][0] is v and got["c"]["k"] is v


REENTRANT = {
    "dump_run": "p = dplan(dfield('next', (D.CALL_FIELD, lambda v, *_: p.run(v, False))))\n"
                "o = {}; o['next'] = o; go = lambda: p.run(o, False)",
    "dump_run_json": "p = dplan(dfield('next', (D.CALL_FIELD, lambda v, *_: p.run_json(v, False))))\n"
                     "o = {}; o['next'] = o; go = lambda: p.run_json(o, False)",
    "load_run": "p = lplan(lfield('next', (L.CALL_FIELD, lambda v, *_: p.run({'next': v}, False, None))))\n"
                "go = lambda: p.run({'next': 1}, False, None)",
    "load_run_json": "p = lplan(lfield('next', (L.CALL_FIELD, lambda v, *_: p.run_json(T, False, None))))\n"
                     "T = '{\"next\": 1}'; go = lambda: p.run_json(T, False, None)",
    "host_recursion": "def r(v, a, b): return r(v, a, b)\np = dplan(dfield('v', (D.CALL_FIELD, r))); go = lambda: p.run({'v': 1}, False)",
}


def run_child(script, timeout=300):
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(p for p in sys.path if p))
    proc = subprocess.run([sys.executable, "-c", script], env=env, capture_output=True, text=True, timeout=timeout)
    assert proc.returncode == 0, (proc.returncode, proc.stderr[-3000:])
    return proc.stdout


@pytest.mark.parametrize("limit", [1000, 1_000_000])
@pytest.mark.parametrize("call", sorted(REENTRANT))
def test_endless_reentry_into_one_plan_stops(call, limit):
    """In a child: a missing guard shows as a crash of the interpreter."""
    if call == "host_recursion" and limit > 1000:
        pytest.skip("plain Python recursion overflows the C stack of 3.10 by itself at this limit")
    out = run_child(f"""
import sys
sys.setrecursionlimit({limit})
from tests.support.parity import *
{REENTRANT[call]}
try:
    go()
except (RecursionError, AccelFallback) as exc:
    print("stopped", type(exc).__name__)
assert dplan(dfield("a")).run({{"a": 1}}, False) == {{"a": 1}}  # the depth count came back down
""")
    assert "stopped" in out


def _can_measure_peaks():
    try:
        with open("/proc/self/clear_refs", "w") as f:
            return f.write("5") > 0
    except OSError:
        return False


@pytest.mark.slow
@pytest.mark.skipif(not _can_measure_peaks(), reason="peak resident set cannot be reset here")
def test_a_100_megabyte_document_and_a_million_records():
    got = json.loads(run_child("""
import gc, json
from tests.support.parity import *
def peak(fn):
    gc.collect()
    open("/proc/self/clear_refs", "w").write("5")
    kb = lambda key: next(int(l.split()[1]) for l in open("/proc/self/status") if l.startswith(key))
    before = kb("VmRSS")
    return fn(), (kb("VmHWM") - before) // 1024
LOAD = lplan(lfield("id", (L.INT,)), lfield("name", (L.TEXT,)), lfield("tags", (L.LIST_OF, (L.TEXT,), False)))
DUMP = dplan(dfield("id", (D.INT, False)), dfield("name", (D.TEXT,)), dfield("tags", (D.LIST_OF, (D.TEXT,))))
records = [{"id": i, "name": "name-%d-" % i + "x" * 60, "tags": ["alpha", "beta"]} for i in range(1_000_000)]
text, dump_mb = peak(lambda: DUMP.run_json(records, True))
assert text == json.dumps(records)
out, load_mb = peak(lambda: LOAD.run_json(text.encode(), True, None))
assert out == records
del out
out, reference_mb = peak(lambda: LOAD.run(json.loads(text), True, None))
print(json.dumps([len(text) >> 20, dump_mb, load_mb, reference_mb]))
""", timeout=900).splitlines()[-1])
    print("text, then peaks of the dump, the load and the load of a json.loads tree (MB):", got)
    # Each call holds its output and at most one input-sized buffer, never a second copy.
    text_mb, dump_mb, load_mb, reference_mb = got
    assert text_mb >= 100 and dump_mb < 2.5 * text_mb and load_mb < min(reference_mb, 800), got

"""Hostile depth and cycles, garbage collection of plans and results, reference leaks."""

import datetime
import gc
import sys
import weakref

import pytest

from corvane_core._core import DumpSerializer
from tests.support.dump_payloads import (
    DICT_COPY, MISSING, PASS, TEXT, call_field, constant, date_format, delegate, dict_of, enum_member,
    field, floating, integer, list_of, nested, nested_key, plan, schema, tuple_of,
)
from tests.support.leaks import assert_no_leak

# kind: (wrap an element one level deeper, wrap a value to match, unwrap the result)
LEVELS = {
    "list_of": (list_of, lambda v: [v], lambda o: o[0]),
    "enum_member": (enum_member, lambda v: type("E", (), {"name": v})(), lambda o: o),
    "dict_of": (lambda e: dict_of(None, e), lambda v: {"k": v}, lambda o: o["k"]),
    "tuple_of": (tuple_of, lambda v: [v], lambda o: o[0]),
    "nested": (lambda e: nested(schema(field("v", e))), lambda v: {"v": v}, lambda o: o["v"]),
    "nested_key": (lambda e: nested_key(schema(field("v", e)), "v"), lambda v: {"v": v}, lambda o: o),
}


def chain(kind, depth, element=PASS):
    for _ in range(depth):
        element = LEVELS[kind][0](element)
    return element


@pytest.fixture
def high_recursion_limit():
    # On 3.10/3.11 the interpreter's own guard follows this limit; ours must not.
    old = sys.getrecursionlimit()
    sys.setrecursionlimit(1_000_000)
    yield
    sys.setrecursionlimit(old)


@pytest.mark.parametrize("kind", sorted(LEVELS))
@pytest.mark.parametrize("depth", [5_000, 100_000])
def test_deep_payload_raises_recursion_error(kind, depth, high_recursion_limit):
    with pytest.raises(RecursionError):
        DumpSerializer(schema(field("v", chain(kind, depth))), MISSING)


@pytest.mark.parametrize("kind", sorted(LEVELS))
def test_moderate_depth_decodes_and_runs(kind):
    _, wrap, unwrap = LEVELS[kind]
    value = 7
    for _ in range(150):
        value = wrap(value)
    out = plan(field("v", chain(kind, 150))).run({"v": value}, False)["v"]
    for _ in range(150):
        out = unwrap(out)
    assert out == 7


@pytest.mark.parametrize("make", [lambda p: (4, p, False), lambda p: (15, p, "k", True),
                                  lambda p: (5, (4, p, True)), lambda p: (14, ((4, p, False),))])
def test_cyclic_payload_raises_recursion_error(make):
    fields = []
    payload = (None, fields)
    fields.append(field("k", make(payload)))
    with pytest.raises(RecursionError):
        DumpSerializer(payload, MISSING)
    fields.clear()


def test_reentrant_runs(high_recursion_limit):
    holder = {}

    def inner(value, *_):
        if value == "forever":
            return holder["plan"].run({"x": value}, False)
        return holder["plan"].run({"x": value - 1}, False) if value else "leaf"

    holder["plan"] = plan(field("x", call_field(inner)))
    assert holder["plan"].run({"x": 2}, False) == {"x": {"x": {"x": "leaf"}}}
    with pytest.raises(RecursionError):
        holder["plan"].run({"x": "forever"}, False)
    holder.clear()


class Schema:
    """Holds its plan; its plan holds it back through one payload position."""

    serialize = __call__ = lambda self, *args: 1


PLACES = {
    "serialize_arg": lambda s: schema(arg=s),
    "delegate_field": lambda s: schema(delegate("k", s)),
    "default": lambda s: schema(field("k", default=s)),
    "call_field": lambda s: schema(field("k", call_field(s))),
    "constant": lambda s: schema(field("k", constant(s))),
    "formatter": lambda s: schema(field("k", date_format("%Y", formatter=s))),
    "nested_arg": lambda s: schema(field("k", nested(schema(arg=s)))),
    "tuple_item": lambda s: schema(field("k", tuple_of(constant(s)))),
}


@pytest.mark.parametrize("place", sorted(PLACES) + ["missing"])
def test_plan_and_schema_cycle_is_collected(place):
    s = Schema()
    payload = PLACES[place](s) if place != "missing" else schema(field("k"))
    s.plan = DumpSerializer(payload, s if place == "missing" else MISSING)
    s.plan.run({"k": None}, False)
    ref = weakref.ref(s)
    del s, payload
    gc.collect()
    assert ref() is None


@pytest.mark.parametrize("width", [1, 8])
def test_records_holding_containers_join_cycle_collection(width):
    Box = type("Box", (), {})
    out = plan(*(field(f"f{i}") for i in range(width - 1)), field("box")).run({"box": Box()}, False)
    assert gc.is_tracked(out)
    out["box"].back = out
    ref = weakref.ref(out["box"])
    del out
    gc.collect()
    assert ref() is None


class Obj:
    # Values made at run time, shared with nothing else, so a reference kept shows.
    def __init__(self, i):
        self.id, self.name, self.blob = 1000 + i, f"name-{i}", f"b{i}".encode()
        self.when, self.tags, self.pair = datetime.date(2020, 1, 1 + i), [f"t{i}", f"u{i}"], [3000 + i, f"p{i}"]
        self.meta = {"x": {"y": 2000 + i}, f"k{i}": {f"k{i}": i / 7}}
        self.children = [{"id": 4000 + i}, {"id": 5000 + i}]


RICH = plan(
    field("id", integer()), field("id_text", integer(True), attr="id"), field("name", TEXT), field("blob", TEXT),
    field("ratio", floating(), attr="id"), field("when", date_format()), field("tags", list_of(TEXT)),
    field("y", integer(), attr="meta.x.y"), field("meta", dict_of(TEXT, DICT_COPY)),
    field("pair", tuple_of(integer(), TEXT)),
    field("children", nested(schema(field("id")), many=True)),
    field("first", nested_key(schema(field("id")), "id", many=True), attr="children"),
    field("absent", TEXT, default="dflt"), field("gone", TEXT), field("c", constant(("c",))),
    delegate("d", type("D", (), {"serialize": lambda self, a, obj, arg: MISSING if obj.id % 2 else a})()),
)
OBJS = [Obj(i) for i in range(5)]


def reachable():
    seen, stack = {}, [OBJS, MISSING]
    while stack:
        o = stack.pop()
        if id(o) not in seen:
            seen[id(o)] = o
            stack.extend(o if isinstance(o, (list, tuple)) else [*o.keys(), *o.values()] if isinstance(o, dict)
                         else vars(o).values() if isinstance(o, Obj) else ())
    # Objects the whole process shares (small ints, interned names) move by themselves;
    # the test's own values are referenced a few times only.
    return [o for o in seen.values() if sys.getrefcount(o) < 50]


def broken(attr, value):
    obj = Obj(1)
    setattr(obj, attr, value)
    return obj


def dict_changed():
    walked = {"d": {"a": 1, "b": 2}}
    return plan(field("d", dict_of(None, call_field(lambda v, *_: walked["d"].clear() or v)))).run(walked, False)


CASES = {
    "success": lambda: RICH.run(OBJS, True),
    "tuple_length_fallback": lambda: RICH.run([OBJS[0], broken("pair", [1, 2, 3])], True),
    "dict_of_fallback": lambda: RICH.run(broken("meta", [1]), False),
    "one_shot_fallback": lambda: RICH.run(broken("tags", iter(["a"])), False),
    "host_error": lambda: RICH.run([OBJS[0], broken("when", "not a date")], True),
    "nested_key_error": lambda: RICH.run(broken("children", [{"id": 1}, 5]), False),
    "dict_changed": dict_changed,
}


@pytest.mark.parametrize("case", sorted(CASES))
def test_runs_do_not_leak(case):
    assert_no_leak(CASES[case], watch=reachable())


BAD_PAYLOADS = [
    schema(field("a", TEXT), field("b", (99,))),
    schema(field("a", nested(schema(*(field(f"x{i}") for i in range(8)), field("y", (14, [(0,)])))))),
    schema(field("a", tuple_of(TEXT, integer(), (2, 1)))),
    schema(field("a", TEXT, attr="x.\ud800")),
    (None, [(False, "k", "k", MISSING)]),
]


@pytest.mark.parametrize("payload", BAD_PAYLOADS, ids=range(len(BAD_PAYLOADS)))
def test_decoding_errors_do_not_leak(payload):
    assert_no_leak(lambda: DumpSerializer(payload, MISSING), rounds=500, watch=[MISSING, payload])


def test_plans_built_and_dropped_do_not_leak():
    payload = schema(*(field(f"f{i}") for i in range(7)), field("k", nested(schema(field("a", attr="x.y")), True)))
    assert_no_leak(lambda: DumpSerializer(payload, MISSING).run({"k": [{"x": {"y": 1}}]}, False), rounds=500)

"""Hostile depth and cycles, garbage collection of plans, and reference leaks."""

import datetime
import enum
import gc
import sys
import weakref

import pytest

from corvane_core._core import DumpSerializer
from tests.support.dump_payloads import (
    DICT_COPY,
    MISSING,
    PASS,
    TEXT,
    call_field,
    constant,
    date_format,
    delegate,
    dict_of,
    enum_member,
    field,
    floating,
    integer,
    list_of,
    nested,
    nested_key,
    plan,
    schema,
    tuple_of,
)
from tests.support.leaks import assert_no_leak

WRAPPERS = {
    "list_of": lambda inner: list_of(inner),
    "enum_member": lambda inner: enum_member(inner),
    "dict_of": lambda inner: dict_of(None, inner),
    "tuple_of": lambda inner: tuple_of(inner),
    "nested": lambda inner: nested(schema(field("v", inner))),
    "nested_key": lambda inner: nested_key(schema(field("v", inner)), "v"),
}


def chain(kind, depth):
    element = PASS
    for _ in range(depth):
        element = WRAPPERS[kind](element)
    return element


@pytest.fixture
def high_recursion_limit():
    # On 3.10/3.11 the interpreter's own guard follows this limit; ours must not.
    old = sys.getrecursionlimit()
    sys.setrecursionlimit(1_000_000)
    yield
    sys.setrecursionlimit(old)


@pytest.mark.parametrize("kind", sorted(WRAPPERS))
@pytest.mark.parametrize("depth", [5_000, 100_000])
def test_deep_payload_raises_recursion_error(kind, depth, high_recursion_limit):
    payload = schema(field("v", chain(kind, depth)))
    with pytest.raises(RecursionError):
        DumpSerializer(payload, MISSING)


@pytest.mark.parametrize("kind", sorted(WRAPPERS))
def test_moderate_depth_decodes_and_runs(kind):
    depth = 150
    s = plan(field("v", chain(kind, depth)))
    value = 7
    for _ in range(depth):
        value = {
            "list_of": lambda v: [v],
            "enum_member": lambda v: type("E", (), {"name": v})(),
            "dict_of": lambda v: {"k": v},
            "tuple_of": lambda v: [v],
            "nested": lambda v: {"v": v},
            "nested_key": lambda v: {"v": v},
        }[kind](value)
    out = s.run({"v": value}, False)["v"]
    for _ in range(depth):
        out = {
            "list_of": lambda o: o[0],
            "enum_member": lambda o: o,
            "dict_of": lambda o: o["k"],
            "tuple_of": lambda o: o[0],
            "nested": lambda o: o["v"],
            "nested_key": lambda o: o,
        }[kind](out)
    assert out == 7


@pytest.mark.parametrize("through", ["nested", "nested_key", "list_of_nested", "tuple_of_nested"])
def test_cyclic_payload_raises_recursion_error(through):
    fields = []
    payload = (None, fields)
    element = {
        "nested": (4, payload, False),
        "nested_key": (15, payload, "k", True),
        "list_of_nested": (5, (4, payload, True)),
        "tuple_of_nested": (14, ((4, payload, False),)),
    }[through]
    fields.append(field("k", element))
    with pytest.raises(RecursionError):
        DumpSerializer(payload, MISSING)
    fields.clear()  # break the cycle for the collector's sake


def test_reentrant_run_is_bounded(high_recursion_limit):
    holder = {}

    def again(value, *_):
        return holder["plan"].run(value, False)

    holder["plan"] = plan(field("next", call_field(again)))
    obj = {}
    obj["next"] = obj
    with pytest.raises(RecursionError):
        holder["plan"].run(obj, False)
    holder.clear()


# --- garbage collection -------------------------------------------------------


class Schema:
    """Holds its plan; its plan holds it back through one payload position."""

    def serialize(self, attr, obj, arg):
        return 1

    def __call__(self, *args):
        return 1


PLACES = {
    "serialize_arg": lambda s: schema(arg=s),
    "delegate_field": lambda s: schema(delegate("k", s)),
    "default": lambda s: schema(field("k", default=s)),
    "call_field": lambda s: schema(field("k", call_field(s))),
    "constant": lambda s: schema(field("k", constant(s))),
    "formatter": lambda s: schema(field("k", date_format("%Y", formatter=s))),
    "nested_arg": lambda s: schema(field("k", nested(schema(arg=s)))),
    "dict_of_value": lambda s: schema(field("k", dict_of(None, call_field(s)))),
    "tuple_item": lambda s: schema(field("k", tuple_of(constant(s)))),
}


@pytest.mark.parametrize("place", sorted(PLACES))
def test_plan_and_schema_cycle_is_collected(place):
    s = Schema()
    s.plan = DumpSerializer(PLACES[place](s), MISSING)
    assert s.plan.run({"k": None}, False) is not None
    ref = weakref.ref(s)
    del s
    gc.collect()
    assert ref() is None


def test_missing_sentinel_cycle_is_collected():
    class Sentinel:
        pass

    sentinel = Sentinel()
    sentinel.plan = DumpSerializer(schema(field("k")), sentinel)
    ref = weakref.ref(sentinel)
    del sentinel
    gc.collect()
    assert ref() is None


# --- leaks --------------------------------------------------------------------


class Color(enum.Enum):
    RED = 1


class Obj:
    # Values made at run time, not shared with the rest of the process, so that a
    # reference kept on any of them shows in its count.
    def __init__(self, i):
        self.id = 1000 + i
        self.name = f"name-{i}"
        self.blob = f"blob-{i}".encode()
        self.ratio = i / 3
        self.when = datetime.date(2020, 1, 1 + i % 28)
        self.color = Color.RED
        self.tags = [f"t{i}", f"u{i}"]
        self.meta = {"x": {"y": 2000 + i}, f"k{i}": {f"k{i}": i / 7}}
        self.pair = [3000 + i, f"p{i}"]
        self.children = [{"id": 4000 + i}, {"id": 5000 + i}]


class Delegate:
    def serialize(self, attr, obj, arg):
        return MISSING if obj.id % 2 else attr


RICH = plan(
    field("id", integer()),
    field("id_text", integer(True), attr="id"),
    field("name", TEXT),
    field("blob", TEXT),
    field("ratio", floating()),
    field("when", date_format()),
    field("color", enum_member(TEXT, use_value=True)),
    field("tags", list_of(TEXT)),
    field("y", integer(), attr="meta.x.y"),
    field("meta", dict_of(TEXT, DICT_COPY)),
    field("pair", tuple_of(integer(), TEXT)),
    field("children", nested(schema(field("id")), many=True)),
    field("first", nested_key(schema(field("id")), "id", many=True), attr="children"),
    field("absent", TEXT, default="dflt"),
    field("gone", TEXT),
    delegate("d", Delegate()),
    field("c", constant(("const",))),
)

OBJS = [Obj(i) for i in range(5)]


class Raises:
    def __str__(self):
        raise ValueError("no")


def failing_cases():
    bad_pair = Obj(1)
    bad_pair.pair = [1, 2, 3]
    bad_meta = Obj(1)
    bad_meta.meta = [1]
    bad_text = Obj(1)
    bad_text.tags = ["a", Raises()]
    bad_child = Obj(1)
    bad_child.children = [{"id": 1}, 5]
    one_shot = Obj(1)
    one_shot.tags = iter(["a"])
    walked = {}

    def shrink(v, *_):
        walked["d"].clear()
        return v

    mut_plan = plan(field("d", dict_of(None, call_field(shrink))))

    def dict_changed():
        walked["d"] = {"a": 1, "b": 2}
        return mut_plan.run(walked, False)

    return {
        "tuple_length_fallback": lambda: RICH.run([OBJS[0], bad_pair], True),
        "dict_of_fallback": lambda: RICH.run(bad_meta, False),
        "one_shot_fallback": lambda: RICH.run(one_shot, False),
        "host_error_in_list": lambda: RICH.run([OBJS[0], bad_text], True),
        "nested_key_error": lambda: RICH.run(bad_child, False),
        "dict_changed": dict_changed,
    }


def reachable(*roots):
    """Every object a dump of ``roots`` reads, so a reference kept on any of them shows."""
    seen = {}
    stack = list(roots)
    while stack:
        o = stack.pop()
        if id(o) in seen:
            continue
        seen[id(o)] = o
        if isinstance(o, (list, tuple)):
            stack.extend(o)
        elif isinstance(o, dict):
            stack.extend(o.keys())
            stack.extend(o.values())
        elif isinstance(o, Obj):
            stack.extend(vars(o).values())
    # Objects the whole process shares (immortal on 3.12+, near it on 3.11) are touched by
    # the interpreter itself between two counts.
    return [o for o in seen.values() if sys.getrefcount(o) < 10**8]


def test_success_does_not_leak():
    assert_no_leak(lambda: RICH.run(OBJS, True), watch=reachable(OBJS, Color.RED, MISSING))


@pytest.mark.parametrize("case", sorted(failing_cases()))
def test_error_and_fallback_paths_do_not_leak(case):
    fn = failing_cases()[case]
    with pytest.raises(Exception):
        fn()
    assert_no_leak(fn, watch=reachable(OBJS, MISSING))


BAD_PAYLOADS = [
    schema(field("a", TEXT), field("b", (99,))),
    schema(field("a", nested(schema(field("x", TEXT), field("y", (14, [(0,)])))))),
    schema(field("a", tuple_of(TEXT, integer(), (2, 1)))),
    schema(field("a", dict_of(TEXT, (256,)))),
    schema(field("a", TEXT, attr="x.\ud800")),
    (None, [(False, "k", "k", MISSING)]),
]


@pytest.mark.parametrize("payload", BAD_PAYLOADS, ids=range(len(BAD_PAYLOADS)))
def test_decoding_errors_do_not_leak(payload):
    assert_no_leak(lambda: DumpSerializer(payload, MISSING), rounds=500, watch=[MISSING, payload])


def test_plans_built_and_dropped_do_not_leak():
    payload = schema(field("k", nested(schema(field("a", TEXT, attr="x.y")), many=True)), delegate("d", Delegate()))
    assert_no_leak(lambda: DumpSerializer(payload, MISSING).run({"k": [{"x": {"y": 1}}]}, False), rounds=500)

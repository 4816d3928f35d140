"""run_json against json.dumps(run(...)) on dump plans."""

import decimal
import enum
import json
import types

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

from corvane_core import AccelFallback
from tests.support.common import MISSING
from tests.support.json_out_plans import (
    DICT_COPY, PASS, STRINGIFY, TEXT, call, check_against_run, delegate, direct, int_, list_of, nested, plan,
    tuple_of,
)
from tests.support.leaks import assert_no_leak


def same_as_run(p, obj, many=False):
    text = p.run_json(obj, many)
    assert text == json.dumps(p.run(obj, many))
    return text


class Field:
    def __init__(self, result):
        self.result, self.calls = result, []

    def serialize(self, attribute, obj, arg):
        self.calls.append((attribute, obj, arg))
        return self.result


class StrSub(str):
    def __str__(self):
        return "other"


class Loose(str):
    def __hash__(self):
        return hash(self.lower())

    def __eq__(self, other):
        return self.lower() == str(other).lower()


INNER = nested([direct("x")], many=True)


@pytest.mark.parametrize(
    "fields, obj, many, text",
    [
        ([direct("a")], {}, False, "{}"),
        ([direct("a")], [], True, "[]"),
        ([direct("a")], None, True, "{}"),
        ([direct("a")], ({"a": 1}, {"a": 2}), True, '[{"a": 1}, {"a": 2}]'),
        ([direct("a", default=None), direct("b", TEXT, default=5)], {}, False, '{"a": null, "b": "5"}'),
        ([direct("a", INNER)], {"a": None}, False, '{"a": null}'),
        ([direct("a", INNER)], {"a": [{"x": 1}, {}]}, False, '{"a": [{"x": 1}, {}]}'),
        ([direct("a", list_of(TEXT))], {"a": "ab"}, False, '{"a": ["a", "b"]}'),
        ([direct("a", list_of(list_of(int_(True))))], {"a": [[1], (), {3: 0}]}, False, '{"a": [["1"], [], ["3"]]}'),
        ([direct("k", attribute="a.b")], {"a": {}}, False, "{}"),
        ([direct("\ud800", attribute="v"), direct(StrSub("k"), attribute="v")], {"v": 1}, False,
         '{"\\ud800": 1, "k": 1}'),
        ([delegate("a", Field(MISSING)), direct("b"), delegate("c", Field(MISSING))], {"b": 1}, False, '{"b": 1}'),
        # A repeated out_key written once is exact; written twice, it falls back (None):
        # run keeps one entry (first place, later value), two pairs would be another text.
        ([direct("k", attribute="x"), direct("k", attribute="y")], {"y": 2}, False, '{"k": 2}'),
        ([direct("k", attribute="x"), direct("m"), direct("k", attribute="y")], {"x": 1, "y": 2, "m": 0}, False, None),
        ([direct(Loose("K"), attribute="x"), direct("k", attribute="y")], {"x": 1, "y": 2}, False, None),
        ([direct("n", nested([direct("k", attribute="x"), direct("k", attribute="y")], many=True))],
         {"n": [{"x": 1}, {"x": 1, "y": 2}]}, False, None),
    ],
)
def test_records(fields, obj, many, text):
    p = plan(*fields)
    for _ in range(2):  # the second call reuses the plan's key text
        if text is None:
            with pytest.raises(AccelFallback):
                p.run_json(obj, many)
        else:
            assert same_as_run(p, obj, many) == text


def test_delegate_gets_attribute_object_and_arg():
    f = Field({"n": [1]})
    obj = types.SimpleNamespace()
    assert same_as_run(plan(delegate("d", f, attribute="src"), arg="ARG"), obj) == '{"d": {"n": [1]}}'
    assert f.calls[0] == ("src", obj, "ARG")


class Boom(Exception):
    pass


def _raise(*args):
    raise Boom


class Angry:
    def __getitem__(self, key):
        raise Boom

    def __str__(self):
        raise Boom

    def __int__(self):
        raise Boom

    def strftime(self, fmt):
        raise Boom


@pytest.mark.parametrize(
    "fields, obj, error",
    [
        # Values the writer does not reproduce: the host redoes the call.
        ([delegate("d", Field(decimal.Decimal(1)))], {}, AccelFallback),
        ([direct("a", DICT_COPY)], {"a": {1: 2}}, AccelFallback),
        ([direct("a")], {"a": enum.IntEnum("Color", "RED").RED}, AccelFallback),
        ([direct("a", list_of(PASS))], {"a": [1, {2}]}, AccelFallback),
        ([direct("t", tuple_of(PASS))], {"t": [1, 2]}, AccelFallback),  # run's own fallback
        # Host errors propagate as run raises them.
        ([direct("a")], Angry(), Boom),
        ([direct("a", STRINGIFY)], {"a": Angry()}, Boom),
        ([direct("a", int_())], {"a": "x"}, ValueError),
        ([direct("a", int_())], {"a": Angry()}, Boom),
        ([direct("a", (7, None, "%Y"))], {"a": Angry()}, Boom),
        ([direct("a", call(_raise))], {"a": 1}, Boom),
        ([delegate("d", types.SimpleNamespace(serialize=_raise))], {}, Boom),
        ([delegate("d", types.SimpleNamespace(serialize=lambda *a: (_ for _ in ()).throw(KeyboardInterrupt)))],
         {}, KeyboardInterrupt),
    ],
)
def test_failures(fields, obj, error):
    p = plan(*fields)
    if error is not AccelFallback:
        with pytest.raises(error):
            p.run(obj, False)
    with pytest.raises(error) as info:
        p.run_json(obj, False)
    assert error is not AccelFallback or info.value.args == ()


def _gen():
    yield {"a": 1}
    yield {"a": 2}


@pytest.mark.parametrize(
    "fields, wrap, many",
    [
        ([direct("a")], lambda g: g, True),
        ([direct("a")], lambda g: map(dict, g), True),
        ([direct("l", list_of(nested([direct("a")])))], lambda g: {"l": g}, False),
        ([direct("n", nested([direct("a")], many=True))], lambda g: {"n": g}, False),
    ],
)
def test_one_shot_iterables_fall_back_untouched(fields, wrap, many):
    g = _gen()
    with pytest.raises(AccelFallback):
        plan(*fields).run_json(wrap(g), many)
    assert next(g) == {"a": 1}


def test_reentrant_call_on_the_same_plan():
    class Again:
        def serialize(self, attribute, obj, arg):
            return p.run_json(obj["inner"], False) if "inner" in obj else "leaf"

    p = plan(direct("v"), delegate("r", Again()))
    assert p.run_json({"v": 1, "inner": {"v": 2}}, False) == '{"v": 1, "r": "{\\"v\\": 2, \\"r\\": \\"leaf\\"}"}'


def test_list_of_shrunk_by_its_own_items_is_walked_like_run():
    def drop(v, a, b):
        items.clear()
        return v

    p = plan(direct("l", list_of(call(drop))))
    items = [1, 2, 3]
    assert p.run({"l": items}, False) == {"l": [1]}
    items = [1, 2, 3]
    assert p.run_json({"l": items}, False) == '{"l": [1]}'


class Later:
    """A delegate that hands out `shared` or, when `grow` is set, changes it."""

    def __init__(self, grow=False):
        self.grow = grow

    def serialize(self, attribute, obj, arg):
        if self.grow:
            obj["shared"].append("late")
            return None
        return obj["shared"]


def _empty_shared(v, *_):
    v.clear()
    return 0


# Each: the plan and a factory of the input; a later field changes a container that an
# earlier one put in run()'s result, which json.dumps then writes as it is by then.
@pytest.mark.parametrize("p, make, many", [
    (plan(direct("a", attribute="shared"), direct("b", call(_empty_shared), attribute="shared")),
     lambda: {"shared": {"k": [1]}}, False),
    (plan(direct("a", attribute="shared"), direct("b", tuple_of(PASS, call(_empty_shared)), attribute="pair")),
     lambda: (lambda l: {"shared": (l, 1), "pair": (0, l)})([1, 2]), False),
    (plan(delegate("a", Later()), delegate("b", Later(grow=True))), lambda: {"shared": ["x"]}, False),
    (plan(direct("a", DICT_COPY, attribute="d"), direct("b", call(_empty_shared), attribute="shared")),
     lambda: (lambda l: {"d": {"l": l}, "shared": l})([1]), False),
    (plan(direct("a", attribute="shared"), direct("b", call(_empty_shared), attribute="next")),
     lambda: (lambda l: [{"shared": l, "next": []}, {"shared": [], "next": l}])([1, 2]), True),
])
def test_containers_are_written_as_they_are_after_the_whole_dump(p, make, many):
    expected = json.dumps(p.run(make(), many))
    assert p.run_json(make(), many) == expected


def _wrap(inner, n):
    for _ in range(n):
        inner = {"n": inner}
    return inner


def test_deep_plans_and_values_fall_back_without_crashing():
    payload = (None, [direct("a")])
    for _ in range(400):
        payload = (None, [direct("n", (4, payload, False))])
    p = plan(*payload[1])
    same_as_run(p, _wrap({"a": [[1]]}, 400))
    v = []
    for _ in range(50_000):
        v = [v]
    for q, obj in ((p, _wrap({"a": v}, 400)), (plan(direct("a")), {"a": v})):
        with pytest.raises(AccelFallback):
            q.run_json(obj, False)


@pytest.mark.parametrize(
    "obj", [{"a": [1, "x" * 30, {"k": 2.5}], "n": [{"a": "\ud800"}] * 3}, {"a": decimal.Decimal(1)}, {"a": Angry()}]
)
def test_no_leaks(obj):
    key = "k" * 40
    p = plan(direct("a"), direct(key, STRINGIFY, attribute="a"), direct("n", nested([direct("a")], many=True)))
    assert_no_leak(lambda: p.run_json(obj, False), rounds=1000, watch=(key, p, obj))


# Generated plans: every element kind, values that fit it (and some that do not).

KEYS = st.text(st.characters(min_codepoint=0, max_codepoint=0x10FFFF), max_size=4)
SCALARS = st.none() | st.booleans() | st.integers() | st.floats() | st.text(max_size=5) | st.sampled_from(
    [decimal.Decimal("1.5"), b"by", b"\xff", enum.IntEnum("Color", "RED").RED, "\ud800"]
)
PLAIN = st.recursive(SCALARS, lambda i: st.lists(i, max_size=3) | st.dictionaries(KEYS, i, max_size=3), max_leaves=8)
NUMBERS = st.integers() | st.floats() | st.booleans() | st.just("12") | st.none()
Pick = enum.Enum("Pick", {"A": "a", "B": 2})
LEAVES = [
    (st.just(PASS), PLAIN),
    (st.sampled_from([TEXT, STRINGIFY, (16,)]), SCALARS),
    (st.sampled_from([(2, False), (2, True), (3, False), (3, True)]), NUMBERS),
    (st.just(DICT_COPY), st.dictionaries(KEYS, PLAIN, max_size=3) | st.none()),
    (PLAIN.map(lambda v: (11, v)), st.just(0)),
    (st.just((7, None, "%Y-%m")), st.dates() | st.none()),
    (st.booleans().map(lambda v: (8, v, TEXT)), st.sampled_from(Pick) | st.none()),
    (st.just(call(lambda v, a, b: [v, a, b])), PLAIN),
    (st.just((13, TEXT, None)), st.dictionaries(st.integers() | KEYS, PLAIN, max_size=3)),
]


@st.composite
def element(draw, depth):
    """(element payload, strategy of values for it)."""
    pick = draw(st.sampled_from(LEAVES + (["list", "tuple", "nested", "nested_key"] if depth < 3 else [])))
    if pick == "list":
        child, values = draw(element(depth + 1))
        return list_of(child), st.none() | st.lists(values, max_size=3) | st.lists(values, max_size=2).map(tuple)
    if pick == "tuple":
        parts = draw(st.lists(element(depth + 1), max_size=3))
        exact = st.tuples(*[v for _, v in parts])
        return tuple_of(*[e for e, _ in parts]), st.none() | exact | exact.map(list) | st.lists(PLAIN, max_size=4)
    if pick in ("nested", "nested_key"):
        fields, objs = draw(schema(depth + 1))
        many = draw(st.booleans())
        values = st.lists(objs, max_size=3) if many else objs
        if pick == "nested_key":
            return (15, (None, fields), draw(st.sampled_from([f[1] for f in fields] or ["none"])), many), values
        return nested(fields, many), st.none() | values
    return draw(pick[0]), pick[1]


@st.composite
def schema(draw, depth=0):
    """(field payloads with distinct out_keys, strategy of objects for them)."""
    fields, parts = [], {}
    for i, key in enumerate(draw(st.lists(KEYS, unique=True, max_size=4))):
        if draw(st.integers(0, 5)) == 0:
            fields.append(delegate(key, Field(draw(PLAIN | st.just(MISSING)))))
            continue
        e, values = draw(element(depth))
        name = f"f{i}" if not key.isidentifier() else key  # attributes need a UTF-8 form
        attribute = draw(st.sampled_from([name, name + ".x"]))
        fields.append(direct(key, e, attribute=attribute, default=draw(st.just(MISSING) | SCALARS)))
        parts[attribute] = values
    return fields, st.builds(_make_obj, st.fixed_dictionaries({}, optional=parts), st.booleans())


def _make_obj(values, as_attrs):
    """A dict or an object with attributes; `a.x` is stored as {"a": {"x": v}}."""
    flat = {(n[:-2] if n.endswith(".x") else n): ({"x": v} if n.endswith(".x") else v) for n, v in values.items()}
    return types.SimpleNamespace(**flat) if as_attrs else flat


@st.composite
def plan_and_input(draw):
    fields, objs = draw(schema())
    many = draw(st.booleans())
    return fields, draw(st.lists(objs, max_size=3) | st.none() if many else objs), many


@settings(max_examples=200, deadline=None)
@given(plan_and_input())
def test_generated_plans_match_dumps_of_run(case):
    fields, obj, many = case
    check_against_run(plan(*fields), obj, many)

import enum
import math
import uuid as uuidlib

import pytest

from corvane_core._core import AccelFallback
from tests.support.load_payloads import (
    DICT_COPY, INT, PASS, STRICT_INT, TEXT, bool_set, bounds, call, constant, dict_of, enum_member,
    float_, instance_or_call, list_of, nested, nested_key, one, plan, direct, tuple_of, uuid,
)

Color = enum.Enum("Color", {"RED": 1, "BLUE": 2})
MyStr, MyInt = type("MyStr", (str,), {}), type("MyInt", (int,), {})
Rev = type("Rev", (list,), {"__iter__": lambda self: reversed(self)})  # iter() is what the host sees
SENTINEL = object()


class Shouty(dict):
    def __getitem__(self, key):
        raise AssertionError("overridden method called")

    get = items = __getitem__


@pytest.mark.parametrize("element, value, expected", [
    (PASS, SENTINEL, SENTINEL), (TEXT, b"abc", "abc"), (INT, "7", 7), (INT, 7.9, 7), (INT, MyInt(3), 3),
    (STRICT_INT, 10**40, 10**40), (float_(), 3, 3.0), (float_(True), "inf", math.inf),
    (enum_member(Color, True), 1, Color.RED), (enum_member(Color, False, TEXT), b"BLUE", Color.BLUE),
    (enum_member(Color, True), Color.BLUE, Color.BLUE), (instance_or_call(str, repr), 5, "5"),
    (call(lambda v, a, b: (v, a, b)), 1, (1, None, None)), (call(lambda v, a, b: v * 2, 19), 4, 8),
    (DICT_COPY, Shouty(a=1), {"a": 1}), (constant(SENTINEL), "whatever", SENTINEL),
    (bool_set({"y", 1}, {"n", 0}), 0, False), (bool_set({"x"}, {"x"}), "x", True),
    (list_of(INT), ("1", 2), [1, 2]), (list_of(INT), Rev(["1", "2"]), [2, 1]), (list_of(INT, True), [None, "3"], [None, 3]),
    (tuple_of(INT, TEXT), ["1", "x"], (1, "x")), (tuple_of(), (), ()),
    (dict_of(TEXT, [], INT, []), {"a": "1"}, {"a": 1}),
    (dict_of(None, [bounds(upper=0)], None, []), {5: None}, {5: None}),  # no key_element: no check
    (dict_of(INT, [], None, []), Shouty({"1": None, 1: "x"}), {1: "x"}),
    (nested(plan(direct("x", INT))), {"x": "4", "y": 0}, {"x": 4}),
    (nested(plan(direct("x", INT), many=True)), ({"x": 1},), [{"x": 1}]),
    (nested_key(plan(direct("k", INT)), "k"), "9", {"k": 9}),
    (nested_key(plan(direct("k", INT)), "k", True), ["1", 2], [{"k": 1}, {"k": 2}]),
])
def test_conversion_accepts(element, value, expected):
    got = one(element, value)
    assert got == expected and type(got) is type(expected)


@pytest.mark.parametrize("element, value", [
    (TEXT, b"\xff"), (TEXT, MyStr("a")), (TEXT, bytearray(b"a")), (INT, True), (INT, "x"),
    (INT, "1" * 5000), (STRICT_INT, "7"), (STRICT_INT, MyInt(7)), (float_(), True), (float_(), "nan"),
    (float_(), float("-inf")), (float_(), 10**400), (enum_member(Color, False), "GREEN"),
    (enum_member(Color, True), 3), (uuid(uuidlib.UUID), b"\x00" * 15), (instance_or_call(bytes, int), "x"),
    (call(lambda v, a, b: 1 / 0), 1), (DICT_COPY, [("a", 1)]), (bool_set(set(), set()), 1),
    (bool_set({1}, {0}), []), (list_of(INT), "12"), (list_of(INT), [1, None]),
    (tuple_of(INT, INT), [1, 2, 3]), (tuple_of(INT), [None]), (tuple_of(INT), "1"),
    (dict_of(TEXT, [], None, []), {None: 1}), (dict_of(None, [], INT, []), {"a": None}),
    (dict_of(TEXT, [bounds(upper="b")], None, []), {"c": 1}), (dict_of(), [("a", 1)]),
    (nested(plan(direct("x", INT))), [{"x": 1}]), (nested(plan(direct("x", INT), many=True)), [{"x": 1}, 5]),
    (nested_key(plan(direct("k", INT)), "k", True), "12"),
])
def test_conversion_falls_back(element, value):
    with pytest.raises(AccelFallback) as info:
        one(element, value)
    assert info.value.args == ()


def test_uuid_keyword_call_and_identity_returns():
    calls = []
    rec = type("Rec", (), {"__init__": lambda self, *a, **kw: calls.append((a, kw))})
    raw = bytes(range(16))
    one(uuid(rec), raw), one(uuid(rec), "abc")
    assert calls == [((), {"bytes": raw}), (("abc",), {})]
    u, s, big = uuidlib.uuid4(), "".join(["x"] * 30), 10**30
    assert one(uuid(uuidlib.UUID), u) is u and one(TEXT, s) is s and one(INT, big) is big


def raising(exc):
    def boom(*args):
        raise exc()

    return type("Raising", (), {"__contains__": boom, "__call__": boom})()


@pytest.mark.parametrize("exc", [KeyboardInterrupt, SystemExit])
@pytest.mark.parametrize("make, value", [
    (lambda f: call(f), 1), (lambda f: instance_or_call(str, f), 1), (lambda f: list_of(call(f)), [1]),
    (lambda f: dict_of(call(f), [], None, []), {1: 1}), (lambda f: bool_set(f, set()), 1),
    (lambda f: bool_set(set(), f), 1),
])
def test_interrupts_pass_through_conversions(exc, make, value):
    with pytest.raises(exc):
        one(make(raising(exc)), value)


def test_own_probing_errors_are_not_turned_into_fallback():
    meta = type("Meta", (type,), {"__instancecheck__": lambda cls, obj: 1 / 0})
    with pytest.raises(ZeroDivisionError):
        one(enum_member(meta("C", (), {}), True), 1)


def test_tuple_of_counts_what_iteration_yields():
    liar = type("Liar", (list,), {"__len__": lambda self: 2})
    seen, items = [], ["a", "b"]

    def grow(v, a, b):
        seen.append(v)
        items.append("extra")
        return v

    for value in (items, liar([1, 2, 3]), liar([1])):
        with pytest.raises(AccelFallback):
            one(tuple_of(call(grow), call(grow)), value)
    assert seen[:2] == ["a", "b"] and "extra" not in seen  # the third item was never converted


@pytest.mark.parametrize("mutate", [dict.clear, lambda d: d.update(zz=1), lambda d: (d.pop("b"), d.update(zz=1))])
def test_dict_of_stops_when_its_input_changes(mutate):
    data = {"a": 1, "b": 2, "c": 3}
    with pytest.raises(AccelFallback):
        one(dict_of(None, [], call(lambda v, a, b: mutate(data) or v), []), data)

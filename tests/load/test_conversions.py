import enum
import math
import uuid as uuidlib

import pytest

from corvane_core._core import AccelFallback
from tests.support.load_payloads import (
    DICT_COPY, INT, PASS, STRICT_INT, TEXT, bool_set, bounds, call, constant, dict_of, direct,
    enum_member, float_, instance_or_call, list_of, loader, nested, nested_key, one, plan,
    tuple_of, uuid,
)


class Color(enum.Enum):
    RED = 1
    BLUE = 2


class MyStr(str):
    pass


class MyInt(int):
    pass


class MyList(list):
    pass


class Shouty(dict):
    def __getitem__(self, key):
        raise AssertionError("overridden __getitem__ called")

    get = items = __getitem__


SENTINEL = object()


@pytest.mark.parametrize("element, value, expected", [
    (PASS, SENTINEL, SENTINEL),
    (TEXT, "abc", "abc"),
    (TEXT, b"abc", "abc"),
    (INT, 7, 7),
    (INT, "7", 7),
    (INT, 7.9, 7),
    (INT, MyInt(3), 3),
    (STRICT_INT, 10**40, 10**40),
    (float_(), 3, 3.0),
    (float_(), "2.5", 2.5),
    (float_(True), float("inf"), math.inf),
    (enum_member(Color, True), 1, Color.RED),
    (enum_member(Color, False), "BLUE", Color.BLUE),
    (enum_member(Color, False, TEXT), b"RED", Color.RED),
    (enum_member(Color, True), Color.BLUE, Color.BLUE),
    (instance_or_call(int, str), 5, 5),
    (instance_or_call(str, repr), 5, "5"),
    (call(lambda v, a, b: (v, a, b)), 1, (1, None, None)),
    (call(lambda v, a, b: v * 2, 19), 4, 8),
    (DICT_COPY, Shouty(a=1), {"a": 1}),
    (constant(SENTINEL), "whatever", SENTINEL),
    (bool_set({"y", 1}, {"n", 0}), "y", True),
    (bool_set({"y", 1}, {"n", 0}), 0, False),
    (bool_set({"x"}, {"x"}), "x", True),
    (list_of(INT), ("1", 2), [1, 2]),
    (list_of(INT, True), [None, "3"], [None, 3]),
    (list_of(list_of(TEXT)), [["a"], []], [["a"], []]),
    (tuple_of(INT, TEXT), ["1", "x"], (1, "x")),
    (tuple_of(), (), ()),
    (dict_of(TEXT, [], INT, []), {"a": "1"}, {"a": 1}),
    (dict_of(None, [bounds(upper=0)], None, []), {5: None}, {5: None}),
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
    (TEXT, b"\xff"),
    (TEXT, MyStr("a")),
    (TEXT, bytearray(b"a")),
    (TEXT, 5),
    (INT, True),
    (INT, "x"),
    (INT, "1" * 5000),  # over the interpreter's digit limit
    (STRICT_INT, "7"),
    (STRICT_INT, 7.0),
    (STRICT_INT, MyInt(7)),
    (float_(), True),
    (float_(), "inf"),
    (float_(), "nan"),
    (float_(), float("-inf")),
    (float_(), 10**400),
    (float_(), "x"),
    (enum_member(Color, False), "GREEN"),
    (enum_member(Color, True), 3),
    (uuid(uuidlib.UUID), b"\x00" * 15),
    (instance_or_call(bytes, int), "x"),
    (call(lambda v, a, b: 1 / 0), 1),
    (DICT_COPY, [("a", 1)]),
    (bool_set(set(), set()), 1),
    (bool_set({1}, {0}), 2),
    (bool_set({1}, {0}), []),  # unhashable: the set raises TypeError
    (list_of(INT), "12"),
    (list_of(INT), [1, None]),
    (list_of(INT), {1: 2}),
    (tuple_of(INT, INT), [1, 2, 3]),
    (tuple_of(INT, INT), [1]),
    (tuple_of(INT), [None]),
    (tuple_of(INT), "1"),
    (dict_of(TEXT, [], None, []), {None: 1}),
    (dict_of(None, [], INT, []), {"a": None}),
    (dict_of(TEXT, [bounds(upper="b")], None, []), {"c": 1}),
    (dict_of(None, [], INT, [bounds(upper=0)]), {"a": 1}),
    (dict_of(), [("a", 1)]),
    (nested(plan(direct("x", INT))), [{"x": 1}]),
    (nested(plan(direct("x", INT), many=True)), {"x": 1}),
    (nested(plan(direct("x", INT), many=True)), [{"x": 1}, 5]),
    (nested_key(plan(direct("k", INT)), "k", True), "12"),
])
def test_conversion_falls_back(element, value):
    with pytest.raises(AccelFallback) as info:
        one(element, value)
    assert info.value.args == ()


def test_uuid_passes_sixteen_bytes_by_keyword():
    calls = []

    class Rec:
        def __init__(self, *args, **kw):
            calls.append((args, kw))

    raw = bytes(range(16))
    one(uuid(Rec), raw)
    one(uuid(Rec), "abc")
    assert calls == [((), {"bytes": raw}), (("abc",), {})]
    assert one(uuid(uuidlib.UUID), raw) == uuidlib.UUID(bytes=raw)


def test_instances_and_exact_values_are_returned_by_identity():
    u = uuidlib.uuid4()
    s = "x" * 30
    big = 10**30
    assert one(uuid(uuidlib.UUID), u) is u
    assert one(TEXT, s) is s
    assert one(INT, big) is big
    assert one(float_(), 1.5e300) == 1.5e300


def test_containers_are_new_each_call():
    d = loader(direct("l", list_of(PASS)), direct("c", DICT_COPY), direct("t", tuple_of()))
    data = {"l": [1], "c": {"a": 1}, "t": ()}
    a, b = d.run(data, False, False), d.run(data, False, False)
    assert a == b
    assert a["l"] is not b["l"] and a["l"] is not data["l"]
    assert a["c"] is not data["c"]


@pytest.mark.parametrize("exc", [KeyboardInterrupt, SystemExit])
@pytest.mark.parametrize("make, value", [
    (lambda f: call(f), 1),
    (lambda f: instance_or_call(str, f), 1),
    (lambda f: list_of(call(f)), [1]),
    (lambda f: dict_of(call(f), [], None, []), {1: 1}),
    (lambda f: bool_set(Raising(f), set()), 1),
    (lambda f: bool_set(set(), Raising(f)), 1),
])
def test_interrupts_pass_through_conversions(exc, make, value):
    def boom(*a):
        raise exc()

    with pytest.raises(exc):
        one(make(boom), value)


class Raising:
    def __init__(self, fn):
        self.fn = fn

    def __contains__(self, item):
        self.fn()


def test_enum_instance_check_error_is_not_turned_into_fallback():
    class Meta(type):
        def __instancecheck__(cls, obj):
            raise LookupError("probe")

    with pytest.raises(LookupError):
        one(enum_member(Meta("C", (), {}), True), 1)


def test_tuple_of_counts_what_iteration_yields():
    class Liar(list):
        def __len__(self):
            return 2

    seen = []

    def grow(v, a, b):
        seen.append(v)
        items.append("extra")
        return v

    items = ["a", "b"]
    with pytest.raises(AccelFallback):
        one(tuple_of(call(grow), call(grow)), items)
    assert seen == ["a", "b"]  # the third item was never converted
    with pytest.raises(AccelFallback):
        one(tuple_of(INT, INT), Liar([1, 2, 3]))
    with pytest.raises(AccelFallback):
        one(tuple_of(INT, INT), Liar([1]))


def test_list_of_survives_a_converter_that_empties_the_list():
    items = [object(), 2, 3]

    def shrink(v, a, b):
        items.clear()
        return v

    assert len(one(list_of(call(shrink)), items)) == 1


@pytest.mark.parametrize("mutate", [
    lambda d: d.clear(),
    lambda d: d.update(zz=1),
    lambda d: (d.pop("b"), d.update(zz=1)),
])
def test_dict_of_stops_when_its_input_changes(mutate):
    data = {"a": 1, "b": 2, "c": 3}

    def touch(v, a, b):
        mutate(data)
        return v

    with pytest.raises(AccelFallback):
        one(dict_of(None, [], call(touch), []), data)


def test_dict_of_holds_keys_while_host_code_runs():
    class Key(str):
        __hash__ = str.__hash__

        def __eq__(self, other):
            return str.__eq__(self, other)

    data = {Key("k" + str(i)): i for i in range(8)}

    def drop(v, a, b):
        data.clear()
        return v

    with pytest.raises(AccelFallback):
        one(dict_of(call(drop), [], None, []), data)


def test_list_subclass_iteration_is_what_the_host_sees():
    class Rev(MyList):
        def __iter__(self):
            return reversed(self)

    assert one(list_of(INT), Rev(["1", "2"])) == [2, 1]

"""What each element kind makes of a value (exact types compared), and the container
walks under host code that mutates what is being walked."""

import datetime
import enum

import pytest

from corvane_core._core import AccelFallback
from tests.support.dump_payloads import (
    DICT_COPY, PASS, STRINGIFY, STRINGIFY_ALT, TEXT, call_field, constant, date_format, dict_of,
    dump_value, enum_member, field, floating, integer, list_of, nested, nested_key, plan, schema, tuple_of,
)


class StrSub(str):
    def __str__(self):
        return "overridden"


class BytesSub(bytes):
    def decode(self, *args):
        return f"decoded{args}"


class Color(enum.Enum):
    RED = 1
    BLUE = "b"


DAY = datetime.date(2020, 1, 2)
SENTINEL = object()
ONE_X = schema(field("x"))


@pytest.mark.parametrize(
    "element, value, expected",
    [
        (PASS, SENTINEL, SENTINEL),
        (TEXT, b"x\xc3\xa9", "xé"),
        (TEXT, bytearray(b"x"), "bytearray(b'x')"),
        (TEXT, BytesSub(b"q"), "decoded('utf-8',)"),
        (TEXT, StrSub("s"), "overridden"),
        (TEXT, 5, "5"),
        (integer(), True, 1),
        (integer(), type("I", (int,), {})(3), 3),
        (integer(), 7.9, 7),
        (integer(True), 5, "5"),
        (integer(True), True, "1"),
        (floating(), 2, 2.0),
        (floating(), True, 1.0),
        (floating(True), 2, "2.0"),
        (STRINGIFY, StrSub("s"), "overridden"),
        (STRINGIFY_ALT, [1], "[1]"),
        (date_format("%Y/%m/%d"), DAY, "2020/01/02"),
        (date_format("ignored", formatter=lambda d: ("f", d)), DAY, ("f", DAY)),
        (enum_member(), Color.RED, "RED"),
        (enum_member(TEXT, use_value=True), Color.RED, "1"),
        (call_field(lambda *a: a), None, (None, None, None)),
        (call_field(lambda *a: a, alt=True), 3, (3, None, None)),
        (DICT_COPY, [("a", 1)], {"a": 1}),
        (constant("c"), None, "c"),
        (nested(ONE_X, many=True), [{"x": 1}, {}], [{"x": 1}, {}]),
        (list_of(TEXT), "ab", ["a", "b"]),
        (list_of(), {"k": 1}, ["k"]),
        (list_of(list_of(integer(True))), [[1], [], (2, 3)], [["1"], [], ["2", "3"]]),
        (dict_of(TEXT, integer(True)), {1: 2, "a": 3}, {"1": "2", "a": "3"}),
        (dict_of(TEXT), {1: "a", "1": "b"}, {"1": "b"}),  # collapsed, the later wins
        (tuple_of(integer(), TEXT), [True, b"x"], (1, "x")),
        (tuple_of(), [], ()),
        (nested_key(schema(field("x", integer(True))), "x"), {"x": 4}, "4"),
        (nested_key(ONE_X, "x", many=True), [{"x": 1}, {"x": 2}], [1, 2]),
        (nested_key(ONE_X, "x", many=True), ({"x": i} for i in range(2)), [0, 1]),
        (nested_key(ONE_X, "x"), {}, KeyError),
        (TEXT, b"\xff", UnicodeDecodeError),
        (integer(), "x", ValueError),
        (date_format("%Y"), "not a date", AttributeError),
        (enum_member(integer(), use_value=True), Color.BLUE, ValueError),
        (list_of(), 5, TypeError),
        (dict_of(list_of()), {"ab": 1}, TypeError),  # the converted key is unhashable
    ],
)
def test_element(element, value, expected):
    if isinstance(expected, type) and issubclass(expected, Exception):
        with pytest.raises(expected):
            dump_value(element, value)
        return
    got = dump_value(element, value)
    assert got == expected and type(got) is type(expected)


NONE_GIVES_NONE = [TEXT, integer(), floating(True), STRINGIFY, date_format(formatter=lambda d: 1 / 0),
                   enum_member(), DICT_COPY, nested(ONE_X, True), list_of(), dict_of(), tuple_of(PASS),
                   nested_key(ONE_X, "x", True), PASS]


@pytest.mark.parametrize("element", NONE_GIVES_NONE)
def test_none_gives_none_without_calls(element):
    assert dump_value(element, None) is None


def test_int_and_float_call_the_builtins_taken_at_construction():
    import builtins

    saved = builtins.int, builtins.float
    s = plan(field("i", integer()), field("f", floating()))
    builtins.int = builtins.float = lambda v: "patched"
    try:
        before = s.run({"i": "3", "f": "2"}, False)
        after = plan(field("i", integer(True)), field("f", floating()), field("g", floating())).run(
            {"i": 3, "f": 2.5, "g": "1"}, False)
    finally:
        builtins.int, builtins.float = saved
    assert before == {"i": 3, "f": 2.0}
    assert after == {"i": "patched", "f": 2.5, "g": "patched"}  # an exact float still passes


def test_dict_of_walks_entries_not_overridden_iteration():
    def refuse(self, *a):
        raise AssertionError("overridden iteration used")

    Tricky = type("Tricky", (dict,), {"items": refuse, "__iter__": refuse, "keys": refuse})
    assert dump_value(dict_of(TEXT), Tricky({1: "a", 2: "b"})) == {"1": "a", "2": "b"}


def mutate_once(mutate, target):
    first = [True]

    def convert(v, *_):
        if first[0]:
            first[0] = False
            mutate(target)
        return v

    return convert


DICT_MUTATIONS = {
    "clear": lambda d: d.clear(),
    "grow": lambda d: d.__setitem__("new", 0),
    "swap_seen_key": lambda d: (d.pop("a"), d.__setitem__("z", 0)),
    "swap_unseen_key": lambda d: (d.pop("c"), d.__setitem__("z", 0)),
    "replace_values": lambda d: d.update(b=10, c=20),
}


@pytest.mark.parametrize("name", sorted(DICT_MUTATIONS))
def test_dict_of_mutated_during_walk_behaves_like_python_iteration(name):
    def outcome(walk):
        d = {"a": 1, "b": 2, "c": 3}
        try:
            return walk(d, mutate_once(DICT_MUTATIONS[name], d))
        except RuntimeError as e:
            return str(e)

    expected = outcome(lambda d, conv: {k: conv(v) for k, v in d.items()})
    assert outcome(lambda d, conv: dump_value(dict_of(value=call_field(conv)), d)) == expected


def test_dict_of_survives_converters_that_free_the_entry():
    d = {object(): [object()] * 3, "b": 2}
    with pytest.raises(RuntimeError, match="changed size"):
        dump_value(dict_of(value=call_field(lambda v, *_: d.clear() or len(v))), d)


LIST_MUTATIONS = {"append": lambda x: x.append(9), "pop": lambda x: x.pop(), "replace": lambda x: x.__setitem__(-1, 7)}


@pytest.mark.parametrize("name", sorted(LIST_MUTATIONS))
def test_list_and_tuple_of_on_a_list_mutated_while_walked(name):
    oracle = [1, 2, 3]
    convert = mutate_once(LIST_MUTATIONS[name], oracle)
    expected = [convert(v) for v in oracle]
    lst = [1, 2, 3]
    assert dump_value(list_of(call_field(mutate_once(LIST_MUTATIONS[name], lst))), lst) == expected
    lst = [1, 2, 3]
    element = tuple_of(call_field(mutate_once(LIST_MUTATIONS[name], lst)), PASS, PASS)
    if name == "replace":
        assert dump_value(element, lst) == (1, 2, 7)
    else:  # never a tuple with an empty slot or a dropped item
        with pytest.raises(AccelFallback):
            dump_value(element, lst)


class LyingLen(list):
    def __init__(self, items, length):
        super().__init__(items)
        self.length = length

    def __len__(self):
        return self.length


@pytest.mark.parametrize(
    "value, expected",
    [
        (LyingLen([1, 2, 3], 2), AccelFallback),  # yields more than its length says
        (LyingLen([1], 2), AccelFallback),  # yields fewer
        (LyingLen([1, 2, 3], 3), AccelFallback),
        (LyingLen([1, 2], 2), (1, 2)),
        (type("OwnIter", (tuple,), {"__iter__": lambda self: iter("xy")})((1, 2)), ("x", "y")),
    ],
)
def test_tuple_of_counts_what_subclasses_yield(value, expected):
    if expected is AccelFallback:
        with pytest.raises(AccelFallback):
            dump_value(tuple_of(PASS, PASS), value)
    else:
        assert dump_value(tuple_of(PASS, PASS), value) == expected

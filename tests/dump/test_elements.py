"""What each element kind makes of a value, compared with exact types."""

import datetime
import enum

import pytest

from corvane_core._core import AccelFallback
from tests.support.dump_payloads import (
    DICT_COPY,
    PASS,
    STRINGIFY,
    STRINGIFY_ALT,
    TEXT,
    call_field,
    constant,
    date_format,
    dict_of,
    dump_value,
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


class IntSub(int):
    pass


class FloatSub(float):
    pass


class StrSub(str):
    def __str__(self):
        return "overridden"


class BytesSub(bytes):
    def decode(self, *args):
        return f"decoded{args}"


class Color(enum.Enum):
    RED = 1
    BLUE = "b"


SENTINEL = object()
DAY = datetime.date(2020, 1, 2)


@pytest.mark.parametrize(
    "element, value, expected",
    [
        (PASS, SENTINEL, SENTINEL),
        (PASS, None, None),
        (TEXT, "x", "x"),
        (TEXT, 5, "5"),
        (TEXT, b"x\xc3\xa9", "xé"),
        (TEXT, bytearray(b"x"), "bytearray(b'x')"),
        (TEXT, BytesSub(b"q"), "decoded('utf-8',)"),
        (TEXT, StrSub("s"), "overridden"),
        (TEXT, None, None),
        (integer(), 5, 5),
        (integer(), True, 1),
        (integer(), IntSub(3), 3),
        (integer(), "7", 7),
        (integer(), 7.9, 7),
        (integer(), 2**100, 2**100),
        (integer(True), 5, "5"),
        (integer(True), True, "1"),
        (integer(True), IntSub(-4), "-4"),
        (integer(), None, None),
        (integer(True), None, None),
        (floating(), 2, 2.0),
        (floating(), 1.5, 1.5),
        (floating(), FloatSub(0.5), 0.5),
        (floating(), "1e3", 1000.0),
        (floating(), True, 1.0),
        (floating(True), 2, "2.0"),
        (floating(True), 0.1, "0.1"),
        (floating(), None, None),
        (STRINGIFY, 5, "5"),
        (STRINGIFY, StrSub("s"), "overridden"),
        (STRINGIFY, None, None),
        (STRINGIFY_ALT, [1], "[1]"),
        (STRINGIFY_ALT, None, None),
        (date_format("%Y/%m/%d"), DAY, "2020/01/02"),
        (date_format("ignored", formatter=lambda d: ("f", d)), DAY, ("f", DAY)),
        (date_format("%Y", formatter=lambda d: 1 / 0), None, None),
        (enum_member(), Color.RED, "RED"),
        (enum_member(use_value=True), Color.RED, 1),
        (enum_member(TEXT, use_value=True), Color.RED, "1"),
        (enum_member(integer(), use_value=True), Color.BLUE, ValueError),
        (enum_member(), None, None),
        (call_field(lambda *a: a), 3, (3, None, None)),
        (call_field(lambda *a: a), None, (None, None, None)),
        (call_field(lambda *a: a, alt=True), None, (None, None, None)),
        (DICT_COPY, [("a", 1)], {"a": 1}),
        (DICT_COPY, None, None),
        (constant("c"), None, "c"),
        (constant(None), 5, None),
        (nested(schema(field("x"))), {"x": 1}, {"x": 1}),
        (nested(schema(field("x")), many=True), [{"x": 1}, {}], [{"x": 1}, {}]),
        (nested(schema(field("x")), many=True), None, None),
        (list_of(TEXT), "ab", ["a", "b"]),
        (list_of(integer()), (1, True), [1, 1]),
        (list_of(), {"k": 1}, ["k"]),
        (list_of(), frozenset([3]), [3]),
        (list_of(TEXT), None, None),
        (list_of(list_of(integer(True))), [[1], [], [2, 3]], [["1"], [], ["2", "3"]]),
        (dict_of(TEXT, integer(True)), {1: 2, "a": 3}, {"1": "2", "a": "3"}),
        (dict_of(), {"a": [1]}, {"a": [1]}),
        (dict_of(TEXT), {1: "a", "1": "b"}, {"1": "b"}),  # collapsed, the later wins
        (dict_of(value=TEXT), None, None),
        (tuple_of(integer(), TEXT), [1, 2], (1, "2")),
        (tuple_of(integer(), TEXT), (True, b"x"), (1, "x")),
        (tuple_of(), [], ()),
        (tuple_of(PASS), None, None),
        (nested_key(schema(field("x", integer(True))), "x"), {"x": 4}, "4"),
        (nested_key(schema(field("x")), "x", many=True), [{"x": 1}, {"x": 2}], [1, 2]),
        (nested_key(schema(field("x")), "x"), {}, KeyError),
        (nested_key(schema(field("x")), "x", many=True), [{"x": 1}, {}], KeyError),
        (nested_key(schema(field("x")), "x", many=True), None, None),
        (TEXT, b"\xff", UnicodeDecodeError),
        (integer(), "x", ValueError),
        (floating(), object(), TypeError),
        (date_format("%Y"), "not a date", AttributeError),
        (date_format("%Y", formatter="not callable"), DAY, TypeError),
        (enum_member(), object(), AttributeError),
        (DICT_COPY, 5, TypeError),
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
    assert got == expected
    assert type(got) is type(expected)


def test_exact_scalars_pass_through_unchanged():
    big = 2**80
    f = 1.25
    assert dump_value(integer(), big) is big
    assert dump_value(floating(), f) is f
    assert dump_value(PASS, SENTINEL) is SENTINEL


def test_containers_are_new_objects():
    d = {"a": 1}
    lst = [1]
    assert dump_value(DICT_COPY, d) is not d
    assert dump_value(dict_of(), d) is not d
    assert dump_value(list_of(), lst) is not lst
    assert type(dump_value(tuple_of(PASS), lst)) is tuple


def test_int_and_float_call_the_builtins_taken_at_construction():
    import builtins

    saved = builtins.int, builtins.float
    s = plan(field("i", integer()), field("f", floating()))
    builtins.int = builtins.float = lambda v: "patched"
    try:
        before = s.run({"i": "3", "f": "2"}, False)
        fresh = plan(field("i", integer(True)), field("f", floating()), field("g", floating()))
        after = fresh.run({"i": 3, "f": 2.5, "g": "1"}, False)
    finally:
        builtins.int, builtins.float = saved
    assert before == {"i": 3, "f": 2.0}
    # An exact float still passes unchanged; everything else goes through the call.
    assert after == {"i": "patched", "f": 2.5, "g": "patched"}


def test_dict_of_walks_entries_not_overridden_iteration():
    class Tricky(dict):
        def items(self):
            raise AssertionError("items() used")

        def __iter__(self):
            raise AssertionError("__iter__ used")

        def keys(self):
            raise AssertionError("keys() used")

    assert dump_value(dict_of(TEXT), Tricky({1: "a", 2: "b"})) == {"1": "a", "2": "b"}


def test_dict_of_converts_key_before_value():
    seen = []
    key = call_field(lambda v, *_: seen.append(("k", v)) or v)
    value = call_field(lambda v, *_: seen.append(("v", v)) or v)
    dump_value(dict_of(key, value), {"a": 1, "b": 2})
    assert seen == [("k", "a"), ("v", 1), ("k", "b"), ("v", 2)]


# Each mutation runs inside a value converter at the first entry; Python's own dict
# iteration under the same mutation is the oracle for the outcome.
MUTATIONS = {
    "clear": lambda d: d.clear(),
    "grow": lambda d: d.__setitem__("new", 0),
    "swap_seen_key": lambda d: (d.pop("a"), d.__setitem__("z", 0)),
    "swap_unseen_key": lambda d: (d.pop("c"), d.__setitem__("z", 0)),
    "replace_values": lambda d: d.update(b=10, c=20),
    "pop_and_readd": lambda d: (d.pop("b"), d.__setitem__("b", 5)),
}


def python_walk(d, mutate):
    out = {}
    try:
        for i, (k, v) in enumerate(d.items()):
            if i == 0:
                mutate(d)
            out[k] = v
    except RuntimeError as e:
        return RuntimeError, str(e)
    return out


@pytest.mark.parametrize("name", sorted(MUTATIONS))
def test_dict_of_mutated_during_walk(name):
    mutate = MUTATIONS[name]
    expected = python_walk({"a": 1, "b": 2, "c": 3}, mutate)
    d = {"a": 1, "b": 2, "c": 3}
    first = [True]

    def convert(v, *_):
        if first[0]:
            first[0] = False
            mutate(d)
        return v

    try:
        got = dump_value(dict_of(value=call_field(convert)), d)
    except RuntimeError as e:
        got = (RuntimeError, str(e))
    assert got == expected


def test_dict_of_survives_converters_that_free_the_entry():
    class Key:
        def __hash__(self):
            return 1

        def __eq__(self, other):
            return self is other

    d = {Key(): [object()] * 3, "b": 2}

    def convert(v, *_):
        d.clear()  # drops the dict's references to the pair being converted
        return len(v)

    with pytest.raises(RuntimeError, match="changed size"):
        dump_value(dict_of(value=call_field(convert)), d)


def list_mutations():
    return {
        "append": lambda lst: lst.append(9),
        "pop": lambda lst: lst.pop(),
        "clear": lambda lst: lst.clear(),
        "replace": lambda lst: lst.__setitem__(-1, 7),
    }


@pytest.mark.parametrize("name", sorted(list_mutations()))
def test_list_of_reads_a_mutated_list_like_python(name):
    mutate = list_mutations()[name]
    first = [True]

    def make_convert(lst):
        def convert(v, *_):
            if first[0]:
                first[0] = False
                mutate(lst)
            return v

        return convert

    oracle_list = [1, 2, 3]
    convert = make_convert(oracle_list)
    expected = [convert(v) for v in oracle_list]
    first[0] = True
    lst = [1, 2, 3]
    assert dump_value(list_of(call_field(make_convert(lst))), lst) == expected


@pytest.mark.parametrize("name", sorted(list_mutations()))
def test_tuple_of_never_returns_a_partly_filled_tuple(name):
    mutate = list_mutations()[name]
    lst = [1, 2, 3]
    first = [True]

    def convert(v, *_):
        if first[0]:
            first[0] = False
            mutate(lst)
        return v

    element = tuple_of(call_field(convert), PASS, PASS)
    if name == "replace":
        assert dump_value(element, lst) == (1, 2, 7)
    else:
        with pytest.raises(AccelFallback):
            dump_value(element, lst)


class LyingLen(list):
    def __init__(self, items, length):
        super().__init__(items)
        self.length = length

    def __len__(self):
        return self.length


class OwnIter(tuple):
    def __iter__(self):
        return iter(("x", "y"))


@pytest.mark.parametrize(
    "value, expected",
    [
        (LyingLen([1, 2, 3], 2), AccelFallback),  # yields more than its length says
        (LyingLen([1], 2), AccelFallback),  # yields fewer
        (LyingLen([1, 2], 2), (1, 2)),
        (LyingLen([1, 2], 3), AccelFallback),
        (OwnIter((1, 2)), ("x", "y")),  # iterated like the host does
    ],
)
def test_tuple_of_counts_what_subclasses_yield(value, expected):
    element = tuple_of(PASS, PASS)
    if expected is AccelFallback:
        with pytest.raises(AccelFallback):
            dump_value(element, value)
    else:
        assert dump_value(element, value) == expected


def test_nested_key_many_on_a_generator_without_fallback_possible():
    element = nested_key(schema(field("x")), "x", many=True)
    assert dump_value(element, ({"x": i} for i in range(3))) == [0, 1, 2]

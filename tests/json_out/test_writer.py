"""The JSON text writer against json.dumps, through a Passthrough field."""

import collections
import datetime
import decimal
import enum
import json
import math
import random
import struct
import sys

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

from corvane_core import AccelFallback
from tests.support.json_out_plans import write, writer_refuses


def same_as_dumps(value):
    assert write(value) == json.dumps(value)


ANY_TEXT = st.text(st.characters(min_codepoint=0, max_codepoint=0x10FFFF), max_size=12)
SPECIALS = ['"', "\\", "\x00", "\x0b", "\x1f", "\x7f", "é", "\u20ac", "\uffff", "\U0001f600", "\ud800", "\udfff"]


@pytest.mark.parametrize("pos", [0, 1, 7, 8, 9, 15, 16])
@pytest.mark.parametrize("special", SPECIALS)
def test_escape_at_each_offset_of_a_word(pos, special):
    # The plain-run scan reads eight bytes at a time.
    text = "a" * pos + special + "b" * (17 - pos)
    same_as_dumps([text, {text: special}])


@pytest.mark.parametrize("n", [4095, 4097, 20000])
@pytest.mark.parametrize("unit", ["a", "\x01", "é", "\U0001f600", "\ud800a"])
def test_escape_across_reservation_chunks(n, unit):
    same_as_dumps(unit * n)


FLOATS = [
    0.0, -0.0, 0.1, 1 / 3, 1e16, 1e15, 1e-5, 1e-4, 1e22, 1e23, 5e-324, 2.2250738585072014e-308,
    2.225073858507201e-308, 1.7976931348623157e308, 9007199254740993.0, math.nan, math.inf, -math.inf,
]


def test_float_text_is_repr_on_a_million_doubles():
    rng = random.Random(20240607)
    bits = [rng.getrandbits(64) for _ in range(940_000)]
    values = list(struct.unpack(f"<{len(bits)}d", struct.pack(f"<{len(bits)}Q", *bits)))
    # Few significant digits at every exponent, and powers of two: random bits miss them.
    values += [rng.randint(1, 99999) * 10.0**e for e in range(-325, 309) for _ in range(100)]
    values += [math.ldexp(1.0, e) for e in range(-1074, 1024)] + FLOATS
    assert len(values) >= 1_000_000
    assert write(values) == json.dumps(values)


INTS = [2**63 - 1, -(2**63), 2**63, 2**64 - 1, 2**64, -(2**63) - 1, -(2**127), 2**128, -(2**200)]


@pytest.mark.skipif(not hasattr(sys, "set_int_max_str_digits"), reason="no digit limit before 3.11")
def test_int_beyond_the_digit_limit_fails_like_dumps():
    with pytest.raises(ValueError) as theirs:
        json.dumps(10**5000)
    with pytest.raises(ValueError) as ours:
        write(10**5000)
    assert str(ours.value) == str(theirs.value)


scalars = (
    st.none() | st.booleans() | st.integers() | st.sampled_from(INTS) | st.floats() | st.sampled_from(FLOATS)
    | ANY_TEXT
)


def containers(inner, keys):
    tuples = st.lists(inner, max_size=3).map(tuple)
    return st.lists(inner, max_size=5) | tuples | st.dictionaries(keys, inner, max_size=5)


@settings(max_examples=300)
@given(st.recursive(scalars, lambda inner: containers(inner, ANY_TEXT), max_leaves=30))
def test_plain_data_is_written_as_dumps_writes_it(value):
    same_as_dumps(value)


# Subclasses that change nothing but the type.
StrSub, IntSub, FloatSub, ListSub, TupleSub = (type(f"{b.__name__}_sub", (b,), {}) for b in (str, int, float, list, tuple))


subclassed = st.recursive(
    scalars | st.builds(IntSub, st.integers()) | st.builds(FloatSub, st.floats()) | ANY_TEXT.map(StrSub)
    | st.sampled_from([b"x", 1j, enum.IntEnum("Color", "RED").RED]),
    lambda inner: containers(inner, ANY_TEXT | ANY_TEXT.map(StrSub) | st.integers())
    | st.lists(inner, max_size=3).map(ListSub)
    | st.lists(inner, max_size=3).map(TupleSub)
    | st.dictionaries(ANY_TEXT, inner, max_size=3).map(collections.OrderedDict),
    max_leaves=20,
)


@settings(max_examples=300)
@given(subclassed)
def test_subclasses_written_like_dumps_or_refused(value):
    # Container subclasses and str-subclass keys are written by their contents; scalar
    # subclasses and non-str keys fall back.
    if writer_refuses(value):
        with pytest.raises(AccelFallback):
            write(value)
    else:
        same_as_dumps(value)


def _moved(cls=collections.OrderedDict):
    d = cls(a=1, b=2)
    d.move_to_end("a")
    return d


@pytest.mark.parametrize(
    "value",
    [
        collections.namedtuple("P", "x y")(1, 2),
        _moved(),
        _moved(type("Ordered", (collections.OrderedDict,), {})),
        collections.defaultdict(int, a=1),
        type("Plain", (dict,), {})(a=1),
        type("Items", (dict,), {"items": lambda self: [("x", 1)]})(),  # empty storage: "{}"
    ],
    ids=repr,
)
def test_subclasses_iterate_as_the_encoder_does(value):
    same_as_dumps(value)


def _own_items(d):
    d.items = lambda: [("x", 1)]  # the instance's, found before the type's by json.dumps
    return d


def _raising_iter(self):
    raise KeyError("boom")


def _nest(n, wrap):
    v = []
    for _ in range(n):
        v = wrap(v)
    return v


def _self_dict():
    v = {}
    v["me"] = [v]
    return v


@pytest.mark.parametrize(
    "make",
    [
        lambda: decimal.Decimal("1.5"), lambda: datetime.date(2024, 1, 1), lambda: {1, 2}, object,
        lambda: {"a": 1, None: 2}, lambda: [{(1, 2): 3}],
        # Iteration defined in Python would run mid-dump, where json.dumps(run(...))
        # runs it after the whole dump: only the host can give that order.
        lambda: type("Reversed", (list,), {"__iter__": lambda self: reversed(list(list.__iter__(self)))})([1, 2]),
        lambda: type("Items", (dict,), {"items": lambda self: [("x", 1), ("y", 2)]})(a=1),
        lambda: _own_items(type("Plain", (dict,), {})(a=1)),
        lambda: _own_items(collections.OrderedDict(a=1)),
        # Found without running the property, which would raise.
        lambda: type("Prop", (dict,), {"items": property(_raising_iter)})(a=1),
        lambda: type("Broken", (list,), {"__iter__": _raising_iter})([1]),
        lambda: type("Sized", (tuple,), {"__len__": lambda self: 0})((1,)),
        # Deep or cyclic: json.dumps then reports it in its own words.
        lambda: _nest(100_000, lambda v: [v]), lambda: _nest(100_000, lambda v: {"k": v}), _self_dict,
    ],
)
def test_refused_values_fall_back(make):
    with pytest.raises(AccelFallback) as info:
        write(make())
    assert info.value.args == ()

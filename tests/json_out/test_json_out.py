"""JSON output: run_json against json.dumps of the pure dump, byte for byte: the text
of every value, subclasses, refused values, key order and the order of host code; and
number text, which is json.dumps's (so repr) and str() for exact floats dumped as text."""

import array
import collections
import datetime
import decimal
import enum
import json
import math
import os
import random

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

from corvane_core import AccelFallback
from corvane_core import fields as f
from tests.support.parity import D, check_dump, dfield, dplan, raiser, schema

VALUE = schema(v=f.Raw())


def written(value, fast=True):
    return check_dump(VALUE, lambda: {"v": value() if callable(value) else value}, fast=fast)[1]


SPECIALS = ['"', "\\", "\x00", "\x0b", "\x1f", "\x7f", "é", "\u20ac", "\uffff", "\U0001f600", "\ud800", "\udfff"]


@pytest.mark.parametrize("special", SPECIALS)
def test_escapes_at_each_offset_of_a_word_and_across_buffer_chunks(special):
    # The plain-run scan reads eight bytes at a time; the buffer grows in 4 kB steps.
    texts = ["a" * pos + special + "b" * (17 - pos) for pos in range(18)]
    written([texts, {t: special for t in texts}] + [special * n for n in (4095, 4097, 20000)])


FLOATS = [0.0, -0.0, 0.1, 1 / 3, 1e16, 1e15, 1e-5, 1e-4, 1e22, 1e23, 5e-324, 2.2250738585072014e-308,
          2.225073858507201e-308, 1.7976931348623157e308, 9007199254740993.0, math.nan, math.inf, -math.inf]
INTS = [2**63 - 1, -(2**63), 2**63, 2**64 - 1, 2**64, -(2**63) - 1, -(2**127), 2**128, -(2**200)]


ANY_TEXT = st.text(st.characters(min_codepoint=0, max_codepoint=0x10FFFF), max_size=12)
SCALARS = st.none() | st.booleans() | st.integers() | st.sampled_from(INTS + FLOATS) | st.floats() | ANY_TEXT
StrSub, IntSub, FloatSub, ListSub, TupleSub = (type(f"{b.__name__}_sub", (b,), {}) for b in (str, int, float, list, tuple))


def containers(inner, keys):
    return st.lists(inner, max_size=5) | st.lists(inner, max_size=3).map(tuple) | st.dictionaries(keys, inner, max_size=5)


def refused(value, depth=0):
    """Whether the writer may hand ``value`` back to the host: scalar subclasses and
    other types, non-str keys."""
    if value is None or type(value) in (bool, int, float, str):
        return False
    if isinstance(value, (list, tuple)):
        return any(refused(v) for v in value)
    if isinstance(value, dict):
        return any(not isinstance(k, str) or refused(v) for k, v in value.items())
    return True


@settings(max_examples=300, deadline=None)
@given(st.recursive(
    SCALARS | st.builds(IntSub, st.integers()) | st.builds(FloatSub, st.floats()) | ANY_TEXT.map(StrSub)
    | st.sampled_from([b"x", 1j, enum.IntEnum("Color", "RED").RED]),
    lambda inner: containers(inner, ANY_TEXT | ANY_TEXT.map(StrSub) | st.integers())
    | st.lists(inner, max_size=3).map(ListSub) | st.lists(inner, max_size=3).map(TupleSub)
    | st.dictionaries(ANY_TEXT, inner, max_size=3).map(collections.OrderedDict), max_leaves=20))
def test_container_subclasses_are_written_by_their_contents(value):
    written(value, fast=not refused(value))


def _moved(cls=collections.OrderedDict):
    d = cls(a=1, b=2)
    d.move_to_end("a")
    return d


def _own_items(d):
    d.items = lambda: [("x", 1)]  # the instance's, found before the type's by json.dumps
    return d


P = collections.namedtuple("P", "x y")
Ordered = type("Ordered", (collections.OrderedDict,), {})
PlainDict = type("Plain", (dict,), {})
ItemsDict = type("Items", (dict,), {"items": lambda self: [("x", 1), ("y", 2)]})
Reversed = type("Reversed", (list,), {"__iter__": lambda s: reversed(list(list.__iter__(s)))})
Prop = type("Prop", (dict,), {"items": property(raiser(KeyError("boom")))})
Broken = type("Broken", (list,), {"__iter__": raiser(KeyError("boom"))})
Sized = type("Sized", (tuple,), {"__len__": lambda self: 0})


@pytest.mark.parametrize("make, fast", [
    (lambda: INTS + FLOATS, True), (lambda: P(1, 2), True), (_moved, True), (lambda: _moved(Ordered), True),
    (lambda: collections.defaultdict(int, a=1), True), (lambda: PlainDict(a=1), True),
    (ItemsDict, True),  # empty storage: "{}"
    (lambda: decimal.Decimal("1.5"), False), (lambda: datetime.date(2024, 1, 1), False), (lambda: {1, 2}, False),
    (object, False), (lambda: {"a": 1, None: 2}, False), (lambda: [{(1, 2): 3}], False),
    # Iteration defined in Python would run mid-dump, where json.dumps(run(...)) runs it
    # after the whole dump: only the host can give that order.
    (lambda: Reversed([1, 2]), False), (lambda: ItemsDict(a=1), False), (lambda: _own_items(PlainDict(a=1)), False),
    (lambda: _own_items(collections.OrderedDict(a=1)), False),
    (lambda: Prop(a=1), False),  # found without running the property
    (lambda: Broken([1]), False), (lambda: Sized((1,)), False),
    # Cyclic: json.dumps then reports it in its own words.
    (lambda: (lambda v: v.__setitem__("me", [v]) or v)({}), False),
])
def test_subclasses_and_refused_values(make, fast):
    outcome = written(make, fast=fast)
    assert fast or outcome.kind == "fallback"


Loose = type("Loose", (str,), {"__hash__": lambda s: hash(s.lower()), "__eq__": lambda s, o: s.lower() == str(o).lower()})


@pytest.mark.parametrize("fields, obj, text", [
    ([dfield("\ud800", attr="v"), dfield(type("K", (str,), {"__str__": lambda s: "x"})("k"), attr="v")], {"v": 1},
     '{"\\ud800": 1, "k": 1}'),
    # A repeated key written once is exact; written twice, it falls back (None): run keeps
    # one entry (first place, later value), two pairs would be another text.
    ([dfield("k", attr="x"), dfield("k", attr="y")], {"y": 2}, '{"k": 2}'),
    ([dfield("k", attr="x"), dfield("m"), dfield("k", attr="y")], {"x": 1, "y": 2, "m": 0}, None),
    ([dfield(f"f{i}") for i in range(6)] + [dfield("f0", attr="x")], {"f0": 1, "x": 2}, None),  # a wide record
    ([dfield(Loose("K"), attr="x"), dfield("k", attr="y")], {"x": 1, "y": 2}, None),
    ([dfield("n", (D.NESTED, (None, [dfield("k", attr="x"), dfield("k", attr="y")]), True))],
     {"n": [{"x": 1}, {"x": 1, "y": 2}]}, None),
])
def test_output_keys(fields, obj, text):
    p = dplan(*fields)
    for _ in range(2):  # the second call reuses the plan's key text
        if text is None:
            with pytest.raises(AccelFallback):
                p.run_json(obj, False)
        else:
            assert p.run_json(obj, False) == json.dumps(p.run(obj, False)) == text


class Touching(dict):
    """Its own items(), which json.dumps calls, changes what a later field reads."""

    def items(self):
        self.record["b"] = "changed"
        return super().items()


class TouchingList(list):
    def __iter__(self):
        self.record["b"] = "changed"
        return super().__iter__()


def touching(cls, value):
    r = {"b": "orig"}
    r["a"] = cls(value)
    r["a"].record = r
    return r


class Empties(f.Custom):
    def _serialize(self, value, attr, obj):
        value.clear()
        return 0


Grows = type("Grows", (f.Field,), {"serialize": lambda self, attr, obj, s: obj["shared"].append("late")})


# A later field changes a container that an earlier one put in run()'s result, which
# json.dumps then writes as it is by then (found by fuzzing).
@pytest.mark.parametrize("fields, make, many", [
    (dict(a=f.Raw(attribute="shared"), b=Empties(attribute="shared")), lambda: {"shared": {"k": [1]}}, False),
    (dict(a=f.Raw(attribute="shared"), b=f.Tuple([f.Raw(), Empties()], attribute="pair")),
     lambda: (lambda l: {"shared": (l, 1), "pair": (0, l)})([1, 2]), False),
    (dict(a=f.Raw(attribute="shared"), b=Grows()), lambda: {"shared": ["x"]}, False),
    (dict(a=f.Dict(attribute="d"), b=Empties(attribute="shared")), lambda: (lambda l: {"d": {"l": l}, "shared": l})([1]),
     False),
    (dict(a=f.Raw(attribute="shared"), b=Empties(attribute="next")),
     lambda: (lambda l: [{"shared": l, "next": []}, {"shared": [], "next": l}])([1, 2]), True),
    (dict(a=f.Raw(), b=f.Raw()), lambda: touching(Touching, {"x": 1}), False),
    (dict(a=f.Raw(), b=f.Raw()), lambda: touching(TouchingList, [1]), False),
])
def test_containers_are_written_as_they_are_after_the_whole_dump(fields, make, many):
    check_dump(schema(**fields), make, many, host=False)


# -- number text -------------------------------------------------------------------------------

def plan(element):
    return schema(v=element).plans()[0]


FLOAT_LIST = plan(f.List(f.Float()))


def same_as_dumps(values):
    assert FLOAT_LIST.run_json({"v": values}, False) == json.dumps({"v": values})


def signed(values):
    return [s * x for x in values for s in (1, -1)]


def around(x, steps=3):
    out = [x]
    up = down = x
    for _ in range(steps):
        up, down = math.nextafter(up, math.inf), math.nextafter(down, -math.inf)
        out += [up, down]
    return out


def test_hard_cases():
    tiny = 5e-324
    cases = [0.0, tiny, 2 * tiny, 3 * tiny, 12 * tiny, 2.2250738585072014e-308, 1.7976931348623157e308]
    cases += [c * tiny for c in range(1, 3000)] + [(2**52 - c) * tiny for c in range(1, 100)]
    cases += around(2.2250738585072014e-308) + around(1.7976931348623157e308)
    cases += [math.ldexp(1.0, e) for e in range(-1074, 1024)]
    cases += [x for e in range(-323, 309) for x in around(float(f"1e{e}"), 1)]
    for edge in (1e-5, 1e-4, 1e15, 1e16, 9.999999999999999e-5, 9.999999999999998e15):
        cases += around(edge, 20)
    cases += [float(2**53 + i) for i in range(-300, 300)]
    cases += [float(2**54 + 2 * i) for i in range(300)] + [float(2**e + 2 ** (e - 52)) for e in range(54, 1023)]
    cases += [0.30000000000000004, 2.0000000000000004, 21985694762540.0625, 123456789012345.67]
    same_as_dumps(signed(cases))


def random_doubles(n, seed):
    rng = random.Random(seed)
    return list(array.array("d", rng.randbytes(8 * n)))


def test_random_bit_patterns():
    # A million, sign bits included; CORVANE_FLOAT_CHECK=N checks N for the long run.
    count = int(os.environ.get("CORVANE_FLOAT_CHECK", 1_000_000))
    for seed, start in enumerate(range(0, count, 250_000)):
        same_as_dumps(random_doubles(min(250_000, count - start), seed))


def test_few_digits_at_every_scale():
    rng = random.Random(7)
    same_as_dumps(signed(rng.randint(1, 99999) * 10.0**e for e in range(-320, 305) for _ in range(40)))


@pytest.mark.parametrize("element", [f.Float(as_string=True), f.Str(), f.Uuid()])
def test_float_dumped_as_text_is_str(element):
    values = [0.1, -0.0, 1e16, 1e-5, 5e-324, math.inf, math.nan] + random_doubles(2000, 9)
    dumper = plan(f.List(element))
    assert dumper.run({"v": values}, False)["v"] == [str(x) for x in values]
    assert dumper.run_json({"v": values}, False) == json.dumps({"v": [str(x) for x in values]})


def test_ints_at_every_digit_count():
    values = [x + d for k in range(20) for x in (10**k, 2 ** (3 * k)) for d in (-1, 0, 1)] + [2**64 - 1]
    values = [v for v in values if v < 2**64] + [-v for v in values if v <= 2**63]
    ints = plan(f.List(f.Int()))
    assert ints.run_json({"v": values}, False) == json.dumps({"v": values})

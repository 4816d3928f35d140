"""The pure-Python path on its own: it is the reference the plans are checked
against, so its lookup, None, default, partial and error rules are pinned here."""

import datetime
import enum
import types
import uuid

import pytest

from corvane_core import EXCLUDE, INCLUDE, MISSING, Schema, ValidationError, _pure
from corvane_core import fields as f
from corvane_core import validate as v


class Color(enum.Enum):
    RED = 1
    BLUE = "b"


def schema(unknown="raise", **declared):
    declared["Meta"] = type("Meta", (), {"unknown": unknown})
    return type("S", (Schema,), declared)


def load(cls, data, many=False, partial=None):
    return _pure.load(cls, data, many, partial)


def errors(cls, data, **kw):
    with pytest.raises(ValidationError) as info:
        load(cls, data, **kw)
    return info.value.messages


class Getitem:
    def __init__(self, exc):
        self.exc = exc
        self.k = "attr"

    def __getitem__(self, key):
        raise self.exc


class Mapping(dict):
    def __getitem__(self, key):
        return "item"


@pytest.mark.parametrize("obj, key, expected", [
    ({"k": 1}, "k", 1),
    (Mapping(k=1), "k", "item"),                      # only an exact dict is read raw
    (Getitem(KeyError()), "k", "attr"),
    (Getitem(TypeError()), "k", "attr"),
    (Getitem(IndexError()), "missing", MISSING),
    (types.SimpleNamespace(k=2), "k", 2),
    ([1, 2], "k", MISSING),
])
def test_get_one_reads_items_before_attributes(obj, key, expected):
    assert _pure.get_one(obj, key) == expected


def test_get_one_attribute_fallback_and_propagation():
    empty = {}
    assert _pure.get_one(empty, "items") == empty.items
    with pytest.raises(ValueError):
        _pure.get_one(Getitem(ValueError()), "k")


def test_dotted_lookup_does_not_stop_at_missing():
    assert _pure.get_value({"a": {"b": 2}}, "a.b", ["a", "b"]) == 2
    assert _pure.get_value({"a": {}}, "a.b", ["a", "b"]) is MISSING
    # The second piece is looked up on the sentinel itself.
    assert _pure.get_value({}, "a.__class__", ["a", "__class__"]) is type(MISSING)


class Upper(f.Custom):
    def _serialize(self, value, attr, obj):
        return (value, attr, obj)


@pytest.mark.parametrize("field, value, expected", [
    (f.Str(), None, None),
    (f.Str(), b"x", "x"),
    (f.Str(), bytearray(b"x"), "bytearray(b'x')"),
    (f.Int(), True, 1),
    (f.Int(as_string=True), 5, "5"),
    (f.Float(), 2, 2.0),
    (f.Raw(), None, None),
    (f.Constant(7), None, 7),
    (Upper(), None, (None, None, None)),              # called for None too
    (f.Enum(Color), Color.RED, "RED"),
    (f.Enum(Color, by_value=True), Color.BLUE, "b"),
    (f.Uuid(), uuid.UUID(int=1), "00000000-0000-0000-0000-000000000001"),
    (f.DateTime(), datetime.datetime(2020, 1, 2, 3, 4), "2020-01-02T03:04:00"),
    (f.Date("%d/%m/%Y"), datetime.date(2020, 1, 2), "02/01/2020"),
    (f.List(f.Str()), "ab", ["a", "b"]),
    (f.Tuple([f.Int(), f.Str()]), iter(["1", 2]), (1, "2")),      # any iterable
    (f.Dict(values=f.Int()), [("a", "1")], {"a": 1}),            # pairs, not only dicts
    (f.Dict(keys=f.Str()), Mapping({1: 2}), {"1": 2}),            # raw entries of a subclass
])
def test_dump_conversions(field, value, expected):
    cls = schema(x=field)
    assert _pure.dump(cls, {"x": value}, False) == {"x": expected}


def test_dump_tuple_of_wrong_length_refuses():
    with pytest.raises(ValueError):
        _pure.dump(schema(x=f.Tuple([f.Int()])), {"x": [1, 2]}, False)


def test_dump_defaults_and_skips():
    cls = schema(a=f.Int(), b=f.Int(dump_default=0), c=f.Str(dump_default=lambda: "made"),
                 d=f.Function(serialize=lambda obj: type(obj).__name__), e=f.Str(attribute="x.y", data_key="xy"))
    assert _pure.dump(cls, {"x": {"y": 1}}, False) == {"b": 0, "c": "made", "d": "dict", "xy": "1"}
    # None with many is one object, not a sequence.
    assert _pure.dump(cls, None, True) == {"b": 0, "c": "made", "d": "NoneType"}


def test_pluck_picks_one_key():
    inner = schema(id=f.Int(data_key="ID"), name=f.Str())
    cls = schema(one=f.Pluck(inner, "id"), many=f.Pluck(inner, "id", many=True))
    obj = {"one": {"id": 1}, "many": [{"id": 2}, {"id": 3}]}
    assert _pure.dump(cls, obj, False) == {"one": 1, "many": [2, 3]}
    assert load(cls, {"one": 1, "many": [2]}) == {"one": {"id": 1}, "many": [{"id": 2}]}


@pytest.mark.parametrize("field, value, expected", [
    (f.Int(), "7", 7),
    (f.Int(), 7.9, 7),
    (f.Float(), 3, 3.0),
    (f.Float(allow_nan=True), "inf", float("inf")),
    (f.Str(), b"abc", "abc"),
    (f.Bool(), "yes", True),
    (f.Bool(), 0, False),
    (f.Uuid(), b"\x00" * 15 + b"\x01", uuid.UUID(int=1)),
    (f.Enum(Color), "RED", Color.RED),
    (f.Enum(Color, by_value=True), "b", Color.BLUE),
    (f.Enum(Color), Color.BLUE, Color.BLUE),
    (f.Date(), "2020-01-02", datetime.date(2020, 1, 2)),
    (f.List(f.Int(allow_none=True)), ("1", None), [1, None]),
    (f.Tuple([f.Int(), f.Str()]), ["1", "x"], (1, "x")),
    (f.Dict(keys=f.Str(validate=v.Length(max=1))), {"a": None}, {"a": None}),
    (f.Constant("c"), 5, "c"),
])
def test_load_conversions(field, value, expected):
    assert load(schema(x=field), {"x": value}) == {"x": expected}


@pytest.mark.parametrize("field, value", [
    (f.Int(), True),
    (f.Int(strict=True), "7"),
    (f.Int(), "x"),
    (f.Float(), "nan"),
    (f.Float(), False),
    (f.Str(), type("S", (str,), {})("x")),
    (f.Str(), b"\xff"),
    (f.Bool(), "maybe"),
    (f.Bool(), []),                                    # unhashable: the membership test fails
    (f.Uuid(), b"\x00" * 15),
    (f.Enum(Color), "GREEN"),
    (f.List(f.Int()), [None]),
    (f.List(f.Int()), "12"),
    (f.Tuple([f.Int()]), [1, 2]),
    (f.Dict(values=f.Int()), {"a": None}),
    (f.Nested(schema()), [1]),
    (f.Int(validate=v.Range(1, 3, max_inclusive=False)), 3),
    (f.Str(validate=v.Range(1)), "a"),                 # a comparison that raises
    (f.Raw(validate=lambda x: False), 1),
    (f.Raw(validate=v.Length(equal=2)), 5),            # no len(): invalid, not an error
])
def test_load_rejections(field, value):
    assert {path.split(".")[0] for path in errors(schema(x=field), {"x": value})} == {"x"}


def test_validator_kinds():
    cases = [(v.Length(5, equal=3), [1, 2, 3], True), (v.NoneOf({1}), [1], True),
             (v.ContainsOnly("ab"), "abc", False), (v.Equal(2), 2.0, True), (v.OneOf("abc"), "bc", True),
             (lambda x: None, 1, True), (lambda x: 0, 1, True)]
    for validator, value, ok in cases:
        cls = schema(x=f.Raw(validate=validator))
        assert (load(cls, {"x": value}) == {"x": value}) if ok else errors(cls, {"x": value})


@pytest.mark.parametrize("field, data, partial, expected", [
    (f.Int(required=True), {}, True, {}),
    (f.Int(required=True), {}, ("x",), {}),
    (f.Int(load_default=0), {}, ["x"], {}),            # skipped: no default either
    (f.Int(load_default=0), {}, None, {"x": 0}),
    (f.Int(load_default=[]), {}, (), {"x": []}),
    (f.Int(allow_none=True, validate=v.Range(5)), {"x": None}, None, {"x": None}),
    (f.Int(load_default=lambda: 9), {}, None, {"x": 9}),
    (f.Int(), {}, "xyz", {}),                          # a str selection tests by substring
])
def test_absent_none_and_partial(field, data, partial, expected):
    assert load(schema(x=field), data, partial=partial) == expected


@pytest.mark.parametrize("selection, expected", [
    (["a.b", "a", "b.c", "a.c.d", "a."], ["b", "c.d", ""]),
    ({"a.b.c"}, ["b.c"]),
    ("a.b", []),
])
def test_derive_narrows_dotted_names(selection, expected):
    assert _pure.derive(selection, "a") == expected


def test_partial_reaches_nested_levels():
    inner = schema(b=f.Int(required=True), c=f.Int(required=True))
    cls = schema(a=f.Nested(inner, required=True))
    assert load(cls, {"a": {"c": 1}}, partial=("a.b",)) == {"a": {"c": 1}}
    assert list(errors(cls, {}, partial=("a.b",))) == ["a"]
    assert list(errors(cls, {"a": {"c": 1}}, partial=["x", 1])) == ["a"]   # a non-str entry
    with pytest.raises(TypeError):
        load(cls, {}, partial=0)


def test_errors_name_every_failing_location():
    inner = schema(q=f.Int())
    cls = schema(id=f.Int(required=True), lines=f.List(f.Nested(inner)), when=f.DateTime(data_key="at"))
    assert errors(cls, {"lines": [{"q": 1}, {"q": "x"}, 3], "at": "soon", "junk": 1}) == {
        "id": ["missing required field"], "lines.1.q": ["expected an integer"],
        "lines.2": ["expected an object"], "at": ["expected a datetime"], "junk": ["unknown field"]}
    assert errors(cls, [{"id": 1}, 5], many=True) == {"1": ["expected an object"]}
    assert "lines.1.q: expected an integer" in str(ValidationError([(("lines", 1, "q"), "expected an integer")]))


def test_dotted_attributes_share_and_clash():
    cls = schema(b=f.Int(attribute="a.b"), c=f.Int(attribute="a.c"))
    assert load(cls, {"b": 1, "c": 2}) == {"a": {"b": 1, "c": 2}}
    clash = schema(a=f.Int(), b=f.Int(attribute="a.b"))
    assert list(errors(clash, {"a": 1, "b": 2})) == ["b"]


@pytest.mark.parametrize("unknown, expected", [
    (EXCLUDE, [("x", 5)]),
    (INCLUDE, [("x", "raw"), ("z", 1)]),               # kept keys come last and replace
])
def test_unknown_key_policies(unknown, expected):
    cls = schema(unknown, c=f.Int(attribute="x"))
    assert list(load(cls, {"c": 5, "x": "raw", "z": 1}).items()) == expected
    assert list(errors(schema(c=f.Int()), {"c": 5, "x": 1, "z": 1})) == ["x", "z"]


class Boom(f.Field):
    def deserialize(self, value, name=None, data=None, partial=None):
        raise self.exc


@pytest.mark.parametrize("exc, outcome", [
    (ValueError("x"), ValidationError),
    (ValidationError("mine"), ValidationError),
    (KeyboardInterrupt(), KeyboardInterrupt),
])
def test_host_failures_become_validation_errors(exc, outcome):
    field = Boom()
    field.exc = exc
    with pytest.raises(outcome):
        load(schema(x=field), {"x": 1})


def test_delegated_field_receives_partial_as_a_keyword():
    seen = []

    class Spy(f.Field):
        def deserialize(self, value, name=None, data=None, **kw):
            seen.append((value, name, kw))
            return MISSING

    cls = schema(x=Spy())
    for data, partial in (({}, None), ({}, True), ({"x": 1}, True), ({}, ("x.y", "z"))):
        assert load(cls, data, partial=partial) == {}
    assert seen == [(MISSING, "x", {}), (1, "x", {"partial": True}), (MISSING, "x", {"partial": ["y"]})]

"""The host layer on its own: the pure path's error report, and the schema layer, which
compiles every field kind into plans, delegates what they cannot express and counts
fallbacks."""

import json

import pytest

from corvane_core import EXCLUDE, INCLUDE, MISSING, DumpSerializer, LoadDeserializer, Schema, ValidationError
from corvane_core import fields as f
from corvane_core import validate as v
from tests.support.parity import schema
from tests.support.strategies import Color


class Inner(Schema):
    n = f.Int()


class Mutual(Schema):
    other = f.Nested(lambda: Other)


class Other(Schema):
    back = f.List(f.Nested(Mutual))
    plain = f.Nested(Inner)


EVERY_KIND = dict(
    raw=f.Raw(), s=f.Str(), i=f.Int(strict=True, as_string=True), fl=f.Float(allow_nan=True), b=f.Bool(),
    u=f.Uuid(), ip=f.IP(), dt=f.DateTime("timestamp"), d=f.Date("%Y"), t=f.Time(), e=f.Enum(Color, by_value=f.Int()),
    c=f.Constant(3), n=f.Nested(Inner, many=True), p=f.Pluck(Inner, "n"), l=f.List(f.Str(allow_none=True)),
    tu=f.Tuple([f.Int(), f.Str()]), dc=f.Dict(), do=f.Dict(keys=f.Str(validate=v.Length(1)), values=f.Int()),
    fn=f.Function(serialize=len, deserialize=len), dfn=f.Dict(values=f.Function(serialize=len)), cu=f.Custom(),
    me=f.Nested("self"), mu=f.Nested(Mutual),
    dotted=f.Int(attribute="a.b", data_key="AB", validate=[v.Range(0, 9, min_inclusive=False), v.OneOf([1]),
                 v.Equal(1), v.NoneOf([2]), v.ContainsOnly([1]), bool]),
)


def test_every_kind_compiles_into_plans_and_only_the_inexpressible_delegate():
    cls = schema(**EVERY_KIND)
    DumpSerializer(cls.dump_payload(), MISSING)
    for unknown in ("raise", "exclude", "include"):
        LoadDeserializer(cls.load_payload(unknown), MISSING)
    delegated = {name for name, fld in zip(EVERY_KIND, cls._fields) if fld.dump_delegates or fld.load_delegates}
    # Functions, also as dict values, and a schema that nests back into its owner.
    assert delegated == {"fn", "dfn", "me"}


@pytest.mark.parametrize("make", [
    lambda: schema(a=f.Int(data_key="k"), b=f.Int(data_key="k")), lambda: f.Int(required=True, load_default=0),
    lambda: f.Date("timestamp"), lambda: v.Length(1.5), lambda: schema(unknown="sometimes"),
    lambda: Inner(unknown="never"), lambda: f.Raw(validate=5),
])
def test_refused_declarations(make):
    with pytest.raises((ValueError, TypeError)):
        make()


def test_calls_count_fallbacks_and_json_calls_match_the_plain_ones():
    cls = schema(id=f.Int(required=True), tags=f.Dict(keys=f.Str(), values=f.Int()), color=f.Enum(Color))
    fast = cls(unknown=INCLUDE)
    assert fast.dump({"id": 1, "tags": {"a": "2"}, "color": Color.RED}) == {"id": 1, "tags": {"a": 2}, "color": "RED"}
    assert fast.dump({"id": 1, "tags": [("a", 2)]}) == {"id": 1, "tags": {"a": 2}}  # pairs: the plan hands back
    assert fast.load({"id": "3", "x": [1]}) == {"id": 3, "x": [1]}
    with pytest.raises(ValidationError) as info:
        fast.load({"id": "x", "color": "PINK"})
    assert info.value.messages == {"id": ["expected an integer"], "color": ["not a member of Color"]}
    text = fast.dumps({"id": 1})
    assert text == json.dumps(fast.dump({"id": 1})) and fast.loads(text.encode()) == {"id": 1}
    with pytest.raises(json.JSONDecodeError):
        fast.loads("{")
    assert {op: (fast.stats.calls[op], fast.stats.fallbacks[op]) for op in fast.stats.OPERATIONS} == {
        "dump": (3, 1), "dumps": (1, 0), "load": (2, 1), "loads": (2, 1)}
    assert fast.stats.fallback_rate == 3 / 8 and "dump=1/3" in repr(fast.stats)
    slow = cls(accelerate=False)
    assert slow.load({"id": 1}) == {"id": 1} and slow.stats.total_calls == 0


def test_recursive_schema_round_trip():
    tree = schema(EXCLUDE, v=f.Int(), kids=f.List(f.Nested("self")))
    data = {"v": 1, "kids": [{"v": 2, "kids": [{"v": 3, "kids": []}]}]}
    assert tree().dump(data) == tree(accelerate=False).dump(data) == tree().load(data) == data
    with pytest.raises(ValidationError) as info:
        tree().load({"kids": [{"kids": [{"v": "x"}]}]})
    assert info.value.messages == {"kids.0.kids.0.v": ["expected an integer"]}

"""The schema layer: classes, payload compilation, and calls that try the plan first
and re-run on the pure path when it falls back."""

import enum
import json

import pytest

from corvane_core import (
    EXCLUDE, INCLUDE, MISSING, AccelFallback, DumpSerializer, LoadDeserializer, Schema, ValidationError,
)
from corvane_core import fields as f
from corvane_core import validate as v
from corvane_core._payload import DumpTag as D
from corvane_core._payload import LoadTag as L


class Color(enum.Enum):
    RED = 1


def schema(unknown="raise", **declared):
    declared["Meta"] = type("Meta", (), {"unknown": unknown})
    return type("S", (Schema,), declared)


class Inner(Schema):
    n = f.Int()


EVERY_KIND = dict(
    raw=f.Raw(), s=f.Str(), i=f.Int(strict=True, as_string=True), fl=f.Float(allow_nan=True), b=f.Bool(),
    u=f.Uuid(), ip=f.IP(), dt=f.DateTime("timestamp"), d=f.Date("%Y"), t=f.Time(), e=f.Enum(Color, by_value=f.Int()),
    c=f.Constant(3), n=f.Nested(Inner, many=True), p=f.Pluck(Inner, "n"), l=f.List(f.Str(allow_none=True)),
    tu=f.Tuple([f.Int(), f.Str()]), dc=f.Dict(), do=f.Dict(keys=f.Str(validate=v.Length(1)), values=f.Int()),
    fn=f.Function(serialize=len, deserialize=len), cu=f.Custom(),
    dotted=f.Int(attribute="a.b", data_key="AB", validate=[v.Range(0, 9, min_inclusive=False), v.OneOf([1]),
                 v.Equal(1), v.NoneOf([2]), v.ContainsOnly([1]), bool]),
)


def test_every_kind_compiles_into_payloads_the_plans_accept():
    cls = schema(**EVERY_KIND)
    DumpSerializer(cls.dump_payload(), MISSING)
    for unknown in ("raise", "exclude", "include"):
        LoadDeserializer(cls.load_payload(unknown), MISSING)


def test_entry_layouts():
    cls = schema(a=f.Int(attribute="x.y", data_key="A", dump_default=1, load_default=2, validate=v.Range(0)),
                 b=f.Str(load_default=lambda: "d", dump_default=lambda: "e"))
    a, b = cls._fields
    arg, dump_fields = cls.dump_payload()
    assert arg is cls
    assert dump_fields == [(False, "A", "x.y", 1, (D.INT, False)), (True, "b", "b", b)]
    many, policy, known, load_fields = cls.load_payload(EXCLUDE)
    assert (many, policy, known) == (False, 1, frozenset({"A", "b"}))
    assert load_fields == [(False, "A", "x.y", "a", 2, False, False, (L.INT,), [(0, 0, None, True, True)]),
                           (True, "b", "b", "b", b)]


@pytest.mark.parametrize("field, dump, load", [
    (f.Bool(truthy={1}, falsy={0}), (D.PASSTHROUGH,), (L.BOOL_SET, {1}, {0})),
    (f.Enum(Color), (D.ENUM_MEMBER, False, (D.TEXT,)), (L.ENUM_MEMBER, Color, False, (L.TEXT,))),
    (f.Enum(Color, by_value=True), (D.ENUM_MEMBER, True, (D.PASSTHROUGH,)), (L.ENUM_MEMBER, Color, True, (L.PASSTHROUGH,))),
    (f.List(f.Int(allow_none=True)), (D.LIST_OF, (D.INT, False)), (L.LIST_OF, (L.INT,), True)),
    (f.Dict(), (D.DICT_COPY,), (L.DICT_COPY,)),
    (f.Dict(values=f.Float(validate=v.Equal(1))), (D.DICT_OF, None, (D.FLOAT, False)),
     (L.DICT_OF, None, [], (L.FLOAT, False), [(3, 1)])),
    (f.Pluck(Inner, "n", many=True), (D.NESTED_KEY, Inner.dump_payload(), "n", True),
     (L.NESTED_KEY, Inner.load_payload(), "n", True)),
    (f.Nested(Inner, many=True), (D.NESTED, Inner.dump_payload(), True), (L.NESTED, (True,) + Inner.load_payload()[1:])),
])
def test_element_payloads(field, dump, load):
    (bound,) = schema(x=field)._fields
    assert bound.dump_element() == dump
    assert bound.load_element() == load


class Mutual(Schema):
    other = f.Nested(lambda: Other)


class Other(Schema):
    back = f.List(f.Nested(Mutual))
    plain = f.Nested(Inner)


class Overrides(f.Int):
    def serialize(self, attr, obj, schema):
        return 1


@pytest.mark.parametrize("cls, name, dump_delegates, load_delegates", [
    (schema(x=f.Nested("self")), "x", True, True),
    (Mutual, "other", True, True),
    (Other, "back", True, True),
    (Other, "plain", False, False),
    (schema(x=f.Int(load_default=list)), "x", False, True),
    (schema(x=f.Int(dump_default=list)), "x", True, False),
    (schema(x=f.List(f.Int(validate=v.Range(0)))), "x", False, True),   # items have no validator slot
    (schema(x=f.Tuple([f.Int(allow_none=True)])), "x", False, True),   # the plan refuses None items
    (schema(x=f.Dict(values=f.Int(allow_none=True))), "x", False, True),
    (schema(x=f.Function(serialize=len, deserialize=len)), "x", True, False),
    (schema(x=Overrides()), "x", True, False),
])
def test_delegation(cls, name, dump_delegates, load_delegates):
    field = next(fld for fld in cls._fields if fld.name == name)
    assert (field.dump_delegates, field.load_delegates) == (dump_delegates, load_delegates)
    DumpSerializer(cls.dump_payload(), MISSING)
    LoadDeserializer(cls.load_payload(), MISSING)


@pytest.mark.parametrize("make", [
    lambda: schema(a=f.Int(data_key="k"), b=f.Int(data_key="k")),
    lambda: f.Int(required=True, load_default=0),
    lambda: f.DateTime("timestamp") and f.Date("timestamp"),
    lambda: v.Length(1.5),
    lambda: schema(unknown="sometimes"),
    lambda: Inner(unknown="never"),
])
def test_refused_declarations(make):
    with pytest.raises((ValueError, TypeError)):
        make()


def test_inheritance_keeps_base_fields_first_and_allows_overrides():
    class Base(Schema):
        a = f.Int()
        b = f.Int()

    class Child(Base):
        c = f.Str()
        a = f.Str()

    assert [(fld.name, type(fld).__name__) for fld in Child._fields] == [("a", "Str"), ("b", "Int"), ("c", "Str")]
    assert [fld.owner for fld in Base._fields] == [Base, Base]


class Order(Schema):
    id = f.Int(required=True)
    tags = f.Dict(keys=f.Str(), values=f.Int())
    pair = f.Tuple([f.Int(), f.Int()])
    color = f.Enum(Color)


def test_plan_and_pure_path_agree_and_fallbacks_are_counted():
    fast, slow = Order(), Order(accelerate=False)
    obj = {"id": 1, "tags": {"a": "2"}, "pair": [1, 2], "color": Color.RED}
    assert fast.dump(obj) == slow.dump(obj) == {"id": 1, "tags": {"a": 2}, "pair": (1, 2), "color": "RED"}
    assert fast.stats.fallbacks["dump"] == 0
    # Pairs instead of a dict, and a generator for the tuple: the plan hands both back.
    odd = {"id": 1, "tags": [("a", 2)], "pair": (x for x in (1, 2))}
    assert fast.dump(odd) == {"id": 1, "tags": {"a": 2}, "pair": (1, 2)}
    assert (fast.stats.calls["dump"], fast.stats.fallbacks["dump"]) == (2, 1)
    assert fast.load({"id": "3"}) == {"id": 3}
    with pytest.raises(ValidationError) as info:
        fast.load({"id": "x", "color": "BLUE"})
    assert info.value.messages == {"id": ["expected an integer"], "color": ["not a member of Color"]}
    assert (fast.stats.calls["load"], fast.stats.fallbacks["load"]) == (2, 1)
    assert fast.stats.fallback_rate == 2 / 4
    assert slow.stats.total_calls == 0


def test_many_dump_of_a_one_shot_iterator_survives_a_fallback():
    records = [{"id": 1, "tags": {"a": 1}}, {"id": 2, "tags": [("b", 2)]}]
    assert Order(many=True).dump(iter(records)) == Order(many=True, accelerate=False).dump(records)


def test_json_calls_match_the_plain_calls():
    fast = Order(unknown=INCLUDE)
    obj = {"id": 1, "tags": {"a": 2}}
    text = fast.dumps(obj)
    assert text == json.dumps(fast.dump(obj))
    assert fast.loads(text) == fast.load(json.loads(text))
    assert fast.loads(b'[{"id": 1, "x": [1]}]', many=True) == [{"id": 1, "x": [1]}]
    with pytest.raises(json.JSONDecodeError):
        fast.loads("{")


def test_keyboard_interrupt_in_host_code_reaches_the_caller():
    class Stop(f.Int):
        def deserialize(self, value, name=None, data=None, partial=None):
            raise KeyboardInterrupt

    with pytest.raises(KeyboardInterrupt):
        schema(x=Stop())().load({"x": 1})


def test_recursive_schema_round_trip():
    class Tree(Schema):
        v = f.Int()
        kids = f.List(f.Nested("self"))

    tree = {"v": 1, "kids": [{"v": 2, "kids": [{"v": 3, "kids": []}]}]}
    assert Tree().dump(tree) == Tree(accelerate=False).dump(tree) == tree
    assert Tree().load(tree) == tree
    with pytest.raises(ValidationError) as info:
        Tree().load({"kids": [{"kids": [{"v": "x"}]}]})
    assert info.value.messages == {"kids.0.kids.0.v": ["expected an integer"]}


def test_plan_signals_fallback_exactly_where_the_pure_path_reports():
    _, plan = Order.plans()
    with pytest.raises(AccelFallback):
        plan.run({"id": None}, False, None)
    with pytest.raises(ValidationError):
        Order(accelerate=False).load({"id": None})

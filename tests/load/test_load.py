"""The load: payload decoding, records, element conversions, validators, partial
selections and unknown keys, held to the host's pure load (run, and run_json on the
JSON text), plus what only the plan level shows: call arguments, identities, interrupts."""

import datetime
import gc
import ipaddress

import pytest

from corvane_core import EXCLUDE, INCLUDE, MISSING, AccelFallback, LoadDeserializer
from corvane_core import fields as f
from corvane_core import validate as v
from tests.support.parity import L, Outcome, check_load, lfield, lpayload, lplan, raiser, same, schema
from tests.support.strategies import Color, Decoy, LyingLen

CAST = "'{}' object cannot be cast as '{}'"
RANGE = "out of range integral type conversion attempted"


def entry(*items):
    return (False, 1, None, [items])


def with_field(element=(L.PASSTHROUGH,), validators=()):
    return lpayload(lfield("a", element, validators=validators))


@pytest.mark.parametrize("payload, exc, message", [
    ([False, 1, None, []], TypeError, CAST.format("list", "tuple")),
    ((False, 1, None, ()), TypeError, CAST.format("tuple", "list")),
    ((1, 1, None, []), TypeError, CAST.format("int", "bool")),
    ((False, 256, None, []), OverflowError, RANGE),
    ((False, 1, None), IndexError, None), ((False, 1), IndexError, None),
    (entry(False, "k", "a", 5, None, False, False, (0,), []), TypeError, CAST.format("int", "str")),
    (entry(True, "k", 5, "a", None), TypeError, CAST.format("int", "str")),
    (entry(True, 5, "n", "a", None), TypeError, CAST.format("int", "str")),
    # A Direct entry reads its validators (position 8) first, then attribute, then the rest.
    (entry(False, 1, "a", "a", None, False, False, (0,)), IndexError, None),
    (entry(False, 1, "a", "a", None, False, False, (0,), [(9,)]), ValueError, "unknown validator tag 9"),
    (entry(False, 1, "a", "a", None, False, False, (0,), []), TypeError, CAST.format("int", "str")),
    (entry(False, "k", "a", "a", None, 1, False, (0,), []), TypeError, CAST.format("int", "bool")),
    (entry(False, "k", "a\udc80", "a", None, False, False, (0,), []), UnicodeEncodeError, None),
    (entry(True, "k", "n", b"a", None), TypeError, CAST.format("bytes", "str")),
    (with_field((20,)), ValueError, "unknown load element tag 20"),
    (with_field((256,)), OverflowError, RANGE),
    (with_field(("0",)), TypeError, None),
    (with_field((L.FLOAT, 1)), TypeError, CAST.format("int", "bool")),
    (with_field((L.TUPLE_OF, [(L.INT,)])), TypeError, CAST.format("list", "tuple")),
    (with_field((L.NESTED_KEY, lpayload(), b"k", False)), TypeError, CAST.format("bytes", "str")),
    (with_field((L.NESTED, lpayload(lfield("x", (99,))))), ValueError, "unknown load element tag 99"),
    (with_field((L.DICT_OF, None, 5, None, [])), TypeError, None),
    (with_field((L.DICT_OF, None, [(7,)], None, [])), ValueError, "unknown validator tag 7"),
    (with_field(validators=[[0, None, None, True, True]]), TypeError, CAST.format("list", "tuple")),
    (with_field(validators=[(0, 1, None, 1, True)]), TypeError, CAST.format("int", "bool")),
    (with_field(validators=[(1, 2**64, None, None)]), OverflowError, None),
    (with_field(validators=[(256,)]), OverflowError, RANGE),
    (with_field((L.DICT_OF, None, map(int, ["x"]), None, [])), ValueError, None),
])
def test_malformed_payloads_raise_the_decoding_error(payload, exc, message):
    with pytest.raises(exc) as info:
        LoadDeserializer(payload, MISSING)
    assert type(info.value) is exc and (message is None or str(info.value) == message)


@pytest.mark.parametrize("payload, expected", [
    ((True, 7, frozenset(), [], "ignored"), [{}]),
    ((False, 1, None, [(True, "a", "n", "x", type("F", (), {"deserialize": lambda s, v, *a: v})())]), {"x": 1}),
    (with_field((0, "anything", 5)), {"a": 1}),
    (with_field((L.DICT_OF, None, iter([(0, 2, None, True, True)]), None, (x for x in []))), AccelFallback),
    (with_field((L.TUPLE_OF, ())), AccelFallback),
    (with_field(validators=[(1, -1, None, None), (6, "not callable")]), AccelFallback),
])
def test_wellformed_payloads_decode(payload, expected):
    d = LoadDeserializer(payload=payload, missing=MISSING)
    if expected is AccelFallback:
        with pytest.raises(AccelFallback):
            d.run({"a": 1}, False, None)
    else:
        assert d.run([{"a": 1}] if payload[0] else {"a": 1}, payload[0], None) == expected


def test_field_list_shrunk_while_decoding_stops_at_its_end():
    Tag = type("Tag", (), {"__index__": lambda self: fields.clear() or 2})
    fields = [lfield("a", (Tag(),)), lfield("b", (L.INT,))]
    assert LoadDeserializer((False, 1, None, fields), MISSING).run({"a": "5", "b": 1}, False, None) == {"a": 5}


# -- records ------------------------------------------------------------------------------------

Rev = type("Rev", (list,), {"__iter__": lambda self: reversed(self)})  # iter() is what the host sees
RECORD = schema(id=f.Int(required=True))


@pytest.mark.parametrize("data, many", [((), True), (iter([{"id": 1}]), True), ([{"id": 1}], False),
                                        (Rev([{"id": 1}, {"id": "2"}]), True), (LyingLen([{"id": 1}]), True)])
def test_many_wants_a_list_or_tuple(data, many):
    check_load(RECORD, data, many, exact=False)


class Spy(f.Field):  # a host field the plan calls itself
    calls = []

    def deserialize(self, value, name=None, data=None, **kw):
        Spy.calls.append((value, name, data, kw))
        if value == "raise":
            raise ValueError
        return MISSING if value is MISSING else ("got", value)


@pytest.mark.parametrize("data, partial, call", [
    ({"k": 1}, None, (1, {})), ({}, None, (MISSING, {})), ({"k": 1}, True, (1, {"partial": True})),
    ({"k": 1}, ("n.x", "n", "m.y"), (1, {"partial": ["x"]})), ({"k": 1}, (), (1, {"partial": []})),
    ({}, True, None), ({}, ["n"], None),  # absent and selected: not called
    ({"k": "raise"}, None, ("raise", {})),
])
def test_delegated_fields_get_value_name_data_and_selection(data, partial, call):
    Spy.calls = []
    check_load(schema(EXCLUDE, n=Spy(data_key="k", attribute="attr")), data, partial=partial, host=False)
    assert [(v, kw) for v, n, d, kw in Spy.calls[:1]] == ([call] if call else [])
    assert all(n == "n" and d == data for v, n, d, kw in Spy.calls)


@pytest.mark.parametrize("policy", ["raise", "include"])
@pytest.mark.parametrize("mutation", [dict.clear, lambda d: d.update(new=1), lambda d: (d.pop("b"), d.update(n=1))])
def test_unknown_key_pass_stops_when_the_input_changes(policy, mutation):
    data = {"a": 1, "b": 2, "c": 3}
    known = type("K", (), {"__contains__": lambda self, k: k == "b" and mutation(data) or True})()
    with pytest.raises(AccelFallback):
        lplan(unknown=policy, known=known).run(data, False, None)
    broken = type("K", (), {"__contains__": lambda self, k: 1 / 0})()
    with pytest.raises(ZeroDivisionError):
        lplan(lfield("a"), unknown=policy, known=broken).run({"a": 1}, False, None)


def test_deep_plans_release_their_depth_and_reentry_works():
    payload, good, bad = lpayload(lfield("a", (L.INT,))), {"a": 1}, {"a": "x"}
    for _ in range(300):
        payload, good, bad = lpayload(lfield("a", (L.NESTED, payload))), {"a": good}, {"a": bad}
    d = LoadDeserializer(payload, MISSING)
    for _ in range(5):  # a depth count left behind by a fallback would fail the last run
        with pytest.raises(AccelFallback):
            d.run(bad, False, None)
    assert d.run(good, False, None) == good
    inner = []
    d = lplan(lfield("n", (L.CALL_FIELD, lambda v, a, b: v > 0 and inner.append(d.run({"n": v - 1}, False, None))
                           or v)))
    assert d.run({"n": 3}, False, None) == {"n": 3} and inner == [{"n": 0}, {"n": 1}, {"n": 2}]
    holder = {}
    holder["d"] = lplan(lfield("a", (L.CALL_FIELD, lambda v, a, b: (holder.clear(), gc.collect(), v)[2])),
                        lfield("b", (L.LIST_OF, (L.INT,), False)))
    assert holder["d"].run({"a": 1, "b": ["2"]}, False, None) == {"a": 1, "b": [2]}  # dropped mid-run


# -- conversions and validators -----------------------------------------------------------------

@pytest.mark.parametrize("field, value", [
    (f.Dict(), Decoy(a=1)), (f.Dict(keys=f.Int()), Decoy({"1": None, 1: "x"})), (f.List(f.Int()), Rev(["1", "2"])),
    (f.Int(), "1" * 5000), (f.Int(), 7.9), (f.Float(allow_nan=True), "inf"), (f.Float(), 10**400),
    (f.Enum(Color, by_value=True), 3), (f.Enum(Color, by_value=f.Int()), "1"), (f.Enum(Color), b"BLUE"),
    (f.Bool(truthy={"y", 1}, falsy={"n", 0}), 0), (f.Bool(truthy={"x"}, falsy={"x"}), "x"), (f.Bool(), []),
    (f.Tuple([f.Int(), f.Int()]), LyingLen([1, 2, 3])), (f.Tuple([f.Int(), f.Int()]), LyingLen([1])),
    (f.Tuple([f.Int()]), "1"), (f.Dict(keys=f.Str(validate=v.Range(max="b"))), {"c": 1}),
    (f.Dict(keys=f.Str()), {None: 1}), (f.Uuid(), b"\x00" * 15), (f.Uuid(), bytes(range(16))),
    (f.IP(), 3232235777), (f.Time(), "03:04"), (f.Tuple([f.Int()]), [None]), (f.Dict(values=f.Int()), {"a": "x"}),
    (f.Float(), "-1"), (f.Float(), -1), (f.List(f.Int()), ("1", "x")), (f.List(f.Int()), Rev(["x"])),
    (f.IP(), ipaddress.ip_address("::1")), (f.Date(), datetime.date(2020, 1, 2)),
])
def test_conversions(field, value):
    check_load(schema(x=field), {"x": value}, exact=not isinstance(value, LyingLen))  # a lying length goes back


def raising(exc):
    return type("Raising", (), dict.fromkeys(["__contains__", "__call__", "__iter__"], raiser(exc)))()


@pytest.mark.parametrize("exc", [KeyboardInterrupt, SystemExit])
@pytest.mark.parametrize("make, value", [
    (lambda r: lfield("v", (L.CALL_FIELD, r)), 1), (lambda r: lfield("v", (L.INSTANCE_OR_CALL, str, r)), 1),
    (lambda r: lfield("v", (L.LIST_OF, (L.CALL_FIELD, r), False)), [1]),
    (lambda r: lfield("v", (L.DICT_OF, (L.CALL_FIELD, r), [], None, [])), {1: 1}),
    (lambda r: lfield("v", (L.BOOL_SET, r, set())), 1), (lambda r: lfield("v", (L.BOOL_SET, set(), r)), 1),
    (lambda r: lfield("v", validators=[(6, r)]), 1), (lambda r: lfield("v", validators=[(4, r)]), 1),
])
def test_interrupts_pass_through_conversions_and_checks(exc, make, value):
    with pytest.raises(exc):
        lplan(make(raising(exc))).run({"v": value}, False, None)


def test_own_probing_errors_are_not_turned_into_fallback():
    cls = type("Meta", (type,), {"__instancecheck__": lambda cls, obj: 1 / 0})("C", (), {})
    for element in ((L.ENUM_MEMBER, cls, True, (0,)), (L.UUID, cls), (L.INSTANCE_OR_CALL, cls, str)):
        with pytest.raises(ZeroDivisionError):
            lplan(lfield("v", element)).run({"v": 1}, False, None)


NAN = float("nan")


@pytest.mark.parametrize("validator, values", [
    (v.Range(1), [1, 0.5, "a", NAN]), (v.Range(1, min_inclusive=False), [1, 2]),
    (v.Range(max=10, max_inclusive=False), [10, 9.99]), (v.Range(max=10), [10, 11]), (v.Range(), ["anything"]),
    (v.Length(5, equal=3), [[1, 2, 3], "ab"]), (v.Length(min=2), ["a", 5]), (v.Length(max=2), ["abc", ""]),
    (v.Length(-5, 0), [""]), (v.OneOf({1, 2}), [3, [], 1]), (v.OneOf("abc"), ["bc"]), (v.Equal(NAN), [NAN]),
    (v.Equal(3), [3.0, 4]), (v.NoneOf({1}), [1, 2, [1]]),
    (v.ContainsOnly({1, 2}), [[1, 2, 1], [1, 3], [], 5, Rev([1, 2]), Rev([3]), (1, 3)]),
    (lambda x: None, [1]), (lambda x: 0, [1]), (lambda x: False, [1]), (lambda x: 1 / 0, [1]),
    (v.OneOf(iter([1, 2, 3])), [3]),  # a consumable container goes back to the host untouched
])
def test_validators(validator, values):
    cls = schema(x=f.Raw(validate=validator))
    for value in values:
        check_load(cls, {"x": value}, exact=not isinstance(validator, v.OneOf) or type(validator.choices) is not type(
            iter([])), host=False)


# -- partial selections ---------------------------------------------------------------------------

INNER = schema(b=f.Int(required=True), c=f.Int(load_default=0))
PARTIAL = schema(a=f.Nested(INNER, required=True), top=f.Int(load_default=9), l=f.List(f.Nested(INNER)))


@pytest.mark.parametrize("partial", [
    True, False, None, ["a"], ("a.b",), {"a.b", "a.c", "top"}, "atop", (), ["a", 1], ["a.\udc80"], ["l.b"],
    type("Sel", (list,), {})(["a.b", "x.y", "a."]), ["a.b", "a"], 0, raising(ZeroDivisionError),
])
@pytest.mark.parametrize("data", [{"a": {}}, {}, {"a": {"b": 1}}, {"l": [{}, {"b": 2}]}])
def test_partial(partial, data):
    check_load(PARTIAL, data, partial=partial, host=False)


def test_iterator_selection_is_not_consumed():
    sel = iter(["a", "top"])
    with pytest.raises(AccelFallback):
        PARTIAL.plans()[1].run({}, False, sel)
    assert list(sel) == ["a", "top"]


# A record may be read in one pass over its entries; host code that changes it during
# its load must still be seen by every later field and the unknown-key pass, at any depth.
INT = (L.INT,)


@pytest.mark.parametrize("nested", [False, True])
@pytest.mark.parametrize("data, change, unknown, expected", [
    ({"b": 1, "c": 2}, lambda d: (d.update(b=5), d.pop("c")), "raise", {"b": 5, "c": 0}),
    ({"b": 1, "c": 2}, lambda d: d.pop("b"), "raise", {"c": 2}),
    ({"b": 1, "c": 2, "z": 0}, lambda d: d.pop("z"), "raise", {"b": 1, "c": 2}),
    ({"b": 1, "c": 2}, lambda d: d.update(z=1), "raise", None),
    ({"b": 1, "c": 2}, lambda d: d.update(z=1), "exclude", {"b": 1, "c": 2}),
    ({"b": 1, "c": 2}, lambda d: d.update(z=1), "include", {"b": 1, "c": 2, "z": 1}),
])
def test_later_fields_and_unknown_keys_see_what_host_code_changed(nested, data, change, unknown, expected):
    # Field a's conversion changes the outer record; with `nested`, a sits in a record under n.
    data = {"n": {"a": 9}, **data} if nested else {"a": 9, **data}
    a = lfield("a", (L.CALL_FIELD, lambda value, *_: (change(data), value)[1]))
    first = lfield("n", (L.NESTED, lpayload(a))) if nested else a
    got = Outcome(lambda: lplan(first, lfield("b", INT), lfield("c", INT, default=0), unknown=unknown).run(
        data, False, None))
    if expected is None:
        assert got.kind == "fallback"
    else:
        del got.value["n" if nested else "a"]
        assert same(got.value, expected)


def test_keys_in_any_order_and_not_shared_with_the_plan():
    plan = lplan(lfield("a", INT), lfield("bb", INT), lfield("c", INT, default=0), unknown="raise")
    assert same(plan.run({"a": 1, "bb": "2"}, False, None), {"a": 1, "bb": 2, "c": 0})
    fresh = "".join(["b", "b"])  # equal to the plan's key, not the same object
    assert same(plan.run({"c": 3, fresh: 2, "a": 1}, False, None), {"a": 1, "bb": 2, "c": 3})
    with pytest.raises(AccelFallback):
        plan.run({"a": 1, fresh: 2, "cc": 3}, False, None)
    many = {f"x{i}": i for i in range(20)}  # more keys than the walk takes on
    with pytest.raises(AccelFallback):
        plan.run({"a": 1, "bb": 2, **many}, False, None)
    plan = lplan(lfield("a", INT), lfield("bb", INT), unknown="exclude")
    assert same(plan.run({**many, "bb": 2, "a": 1}, False, None), {"a": 1, "bb": 2})


@pytest.mark.parametrize("as_list", [False, True])
def test_a_value_dropped_from_the_record_while_it_loads_stays_alive(as_list):
    # The value being loaded must stay held while host code in its conversion drops it (ASan).
    key, outer = "".join(["n", "n"]), {}  # not the plan's key object: no copy of the record
    drop = (L.CALL_FIELD, lambda value, *_: (outer.pop(key, None), value)[1])
    inner = lpayload(lfield("a", drop), lfield("b", (L.TEXT,)))
    element = (L.LIST_OF, (L.NESTED, inner), False) if as_list else (L.NESTED, inner)
    plan = lplan(lfield("nn", element))
    text = "".join(["x"] * 40)  # freed with the record unless held
    record = {"a": 1, "b": text, **{f"c{i}": i for i in range(6)}}
    outer[key] = [record] if as_list else record
    del record, text
    got = plan.run(outer, False, None)
    loaded = got["nn"][0] if as_list else got["nn"]
    assert loaded == {"a": 1, "b": "x" * 40}


@pytest.mark.parametrize("special", ["a", "__dict__", "__class__", "__weakref__", ""])
@pytest.mark.parametrize("width", [7, 40])  # shared key table, and beyond what one holds
def test_wide_records_alike_after_absent_fields_unknown_keys_and_edits(special, width):
    names = [special] + [f"k{i}" for i in range(1, width)]
    cls = schema(unknown=INCLUDE, **{f"k{i}": f.Raw(attribute=n, data_key=f"d{i}", load_default=None if i % 3 else MISSING)
                                     for i, n in enumerate(names)})
    for data in ({}, {"d1": 1, "zz": 2}, {f"d{i}": i for i in range(width)}):
        outs = [o.value for o in check_load(cls, data, exact=False, host=False, unknown=INCLUDE)]
        assert all(list(o) == list(outs[0]) for o in outs)
        for out in outs:
            out.pop(names[1], None)
            out["new"] = 1
        assert all(same(o, outs[0]) and list(o) == list(outs[0]) for o in outs)

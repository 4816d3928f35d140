"""The dump: payload decoding, the object-access rule, each element, one-shot inputs,
host errors, depth and garbage collection. Values go through run and run_json and
are held to the host's pure dump."""

import builtins
import datetime
import gc
import io
import types
import weakref

import pytest

from corvane_core import MISSING, AccelFallback, DumpSerializer, LoadDeserializer
from corvane_core import _pure
from corvane_core import fields as f
from tests.support.parity import D, check_dump, dfield, dplan, raiser, schema
from tests.support.strategies import Boom, Color, LyingLen

CAST = "'{}' object cannot be cast as '{}'"
RANGE = "out of range integral type conversion attempted"
Renamed = type("Other", (), {})


def el(*element):
    return (None, [dfield("v", element)])


@pytest.mark.parametrize("payload, exc, message", [
    (el(17), ValueError, "unknown element tag 17"), (el(256), OverflowError, RANGE), (el(-1), OverflowError, RANGE),
    (el("1"), TypeError, None), (el(), IndexError, "tuple index out of range"),
    ((None, [dfield("v", [0])]), TypeError, CAST.format("list", "tuple")),
    (el(D.INT, 1), TypeError, None),  # an int is not a bool
    (el(D.NESTED, (None, ()), False), TypeError, CAST.format("tuple", "list")), (el(2**70), OverflowError, RANGE),
    (el(D.NESTED, [None, []], False), TypeError, CAST.format("list", "tuple")), (el(D.NESTED), IndexError, None),
    (el(D.NESTED, (None, [dfield("x", (99,))]), False), ValueError, "unknown element tag 99"),
    (el(D.TUPLE_OF, [(0,)]), TypeError, CAST.format("list", "tuple")), ((), IndexError, None),
    ((None, [(False, 5, "k", MISSING, (0,))]), TypeError, CAST.format("int", "str")),
    (el(D.LIST_OF, (99,)), ValueError, "unknown element tag 99"),
    (el(D.DATE_FORMAT, None, b"%Y"), TypeError, CAST.format("bytes", "str")),
    (el(D.ENUM_MEMBER, (0,), (0,)), TypeError, None),  # the bool first
    (el(D.TUPLE_OF, ((0,), (18,), (300,))), ValueError, "unknown element tag 18"),  # the first failure wins
    (el(D.NESTED_KEY, (None, []), 5, True), TypeError, CAST.format("int", "str")),
    ([None, []], TypeError, CAST.format("list", "tuple")), (Renamed(), TypeError, CAST.format("Other", "tuple")),
    ((None,), IndexError, None), ((None, [(0, "k", "k", MISSING, (0,))]), TypeError, None),
    ((None, [(False, "k", None, MISSING, (0,))]), TypeError, CAST.format("NoneType", "str")),
    ((None, [(True, "k", "k")]), IndexError, None), ((None, [dfield("k", attr="a.\ud800")]), UnicodeEncodeError, None),
])
def test_malformed_payloads_raise_the_decoding_error(payload, exc, message):
    with pytest.raises(exc) as info:
        DumpSerializer(payload, MISSING)
    assert type(info.value) is exc and (message is None or str(info.value) == message)


def test_field_list_shrunk_while_decoding():
    # A tag's __index__ is host code run mid-decoding; it may empty the list being decoded.
    Tag = type("Tag", (), {"__index__": lambda self: fields.clear() or 0})
    fields = [dfield("a", (Tag(),)), dfield("b")]
    assert DumpSerializer((None, fields), MISSING).run({"a": 1, "b": 2}, False) == {"a": 1}


# -- the object-access rule: items of an exact dict, __getitem__, then attributes -----------

def item(self, key):
    return f"item:{key}"


class Plain:
    k = "cls"


InBody = type("InBody", (Plain,), {"__getitem__": item})
Slotted = type("Slotted", (), {"__slots__": ("k", "__getitem__")})
WithMeta = type("Meta", (type,), {"__getitem__": item})("WithMeta", (Plain,), {})


def changed_class(add):
    cls = type("Changing", (Plain,) if add else (InBody,), {})
    if add:
        cls.__getitem__ = item
    else:
        cls.__getitem__ = None  # present but not callable: obj[key] is a TypeError
    return cls()


SUBJECTS = {
    "plain": Plain, "in_body": InBody, "through_base": type("Sub", (InBody,), {}),
    "instance_attr": lambda: (lambda o: setattr(o, "__getitem__", item) or o)(Plain()),
    "getattr_all": type("GA", (), {"__getattr__": lambda self, n: f"ga:{n}"}),
    "getattr_raises": type("GR", (), {"__getattr__": raiser(ValueError)}),
    "getattribute_hides": type("GH", (InBody,), {"__getattribute__": lambda s, n: raiser(AttributeError)()
                                                 if n == "__getitem__" else object.__getattribute__(s, n)}),
    "slots": lambda: (lambda o: setattr(o, "k", "slot") or o)(Slotted()),
    "property_absent": type("PA", (Plain,), {"__getitem__": property(raiser(AttributeError))}),
    "property_raises": type("PR", (Plain,), {"__getitem__": property(raiser(ValueError))}),
    **{f"getitem_{e.__name__}": type("G", (Plain,), {"__getitem__": raiser(e)})
       for e in (KeyError, IndexError, TypeError, AttributeError, ValueError, KeyboardInterrupt)},
    "metaclass_instance": WithMeta, "metaclass_class": lambda: WithMeta,
    "class_getitem": type("CG", (Plain,), {"__class_getitem__": classmethod(item)}),
    "class_gains_getitem": lambda: changed_class(True), "class_loses_getitem": lambda: changed_class(False),
    "dict_sub": lambda: type("DS", (dict,), {"k": "attr"})(k="item"), "dict_sub_empty": type("DS", (dict,), {"k": 1}),
    "list": lambda: [1, 2], "str": lambda: "text", "namespace": lambda: types.SimpleNamespace(k="ns"),
    "module": lambda: types.ModuleType("m"), "none": lambda: None, "dict": lambda: {"k": 1, "__class__": 2},
}


@pytest.mark.parametrize("name", sorted(SUBJECTS))
@pytest.mark.parametrize("key", ["k", "absent", "__class__", "k.real", "absent.__class__", "items"])
def test_lookup_rule(name, key):
    check_dump(schema(v=f.Raw(attribute=key)), lambda: SUBJECTS[name]())


@pytest.mark.parametrize("attr", ["a", "a.b"])
def test_dict_lookup_runs_key_equality_once(attr):
    calls = []
    Collides = type("Collides", (), {"__hash__": lambda self: hash("a"), "__eq__": lambda self, o: calls.append(o)})
    d = {Collides(): 1}
    assert "a" not in d
    one_lookup, calls[:] = len(calls), []  # probing may meet the colliding entry more than once
    assert dplan(dfield("v", attr=attr)).run(d, False) == {}
    assert len(calls) == one_lookup


class Later(f.Field):  # a host field of its own: the plan calls its serialize
    def serialize(self, attr, obj, s):
        return obj.get("d", MISSING) if isinstance(obj, dict) else (attr, type(s).__name__)


WIDE = schema(**{f"f{i}": f.Raw(data_key=type("K", (str,), {})(f"f{i}") if i == 3 else None) for i in range(8)},
              d=Later(), c=f.Str(dump_default=5), n=f.Raw(dump_default=None), g=f.Function(serialize=type))


@pytest.mark.parametrize("obj, many", [
    ({}, False), ({"f0": 1, "f7": None}, False), ({f"f{i}": i for i in range(0, 8, 2)}, False), (object(), False),
    ({"d": 1, "n": 2, "c": b"x"}, False), (None, True), ([{"f1": 1}, {"d": 2}], True), ((), True), ({"a": 1}, True),
    (lambda: ({"f1": i} for i in range(3)), True), (5, True),
])
def test_records_defaults_delegates_and_many(obj, many):
    check_dump(WIDE, obj, many)


# -- elements --------------------------------------------------------------------------------

StrSub = type("StrSub", (str,), {"__str__": lambda self: "overridden"})


CONTAINERS = {
    "dict_clear": (f.Dict, dict.clear), "dict_grow": (f.Dict, lambda d: d.__setitem__("new", 0)),
    "dict_swap": (f.Dict, lambda d: (d.pop("a"), d.__setitem__("z", 0))),
    "dict_swap_unseen": (f.Dict, lambda d: (d.pop("c"), d.__setitem__("z", 0))),
    "dict_replace": (f.Dict, lambda d: d.update(b=10, c=20)), "list_append": (f.List, lambda x: x.append(9)),
    "list_pop": (f.List, list.pop), "list_replace": (f.List, lambda x: x.__setitem__(-1, 7)),
    "tuple_pop": (f.Tuple, list.pop), "tuple_append": (f.Tuple, lambda x: x.append(9)),
    "tuple_replace": (f.Tuple, lambda x: x.__setitem__(-1, 7)),
}


@pytest.mark.parametrize("name", sorted(CONTAINERS))
def test_containers_mutated_while_walked(name):
    kind, mutate = CONTAINERS[name]

    class Mutates(f.Custom):  # its first conversion changes the container being walked
        def _serialize(self, value, attr, obj):
            if Mutates.armed:
                Mutates.armed = False
                mutate(Mutates.target)
            return value
    field = {f.Dict: lambda: f.Dict(values=Mutates()), f.List: lambda: f.List(Mutates()),
             f.Tuple: lambda: f.Tuple([Mutates(), f.Raw(), f.Raw()])}[kind]()

    def make():
        Mutates.armed, Mutates.target = True, {"a": 1, "b": 2, "c": 3} if kind is f.Dict else [1, 2, 3]
        return {"v": Mutates.target}
    check_dump(schema(v=field), make, host=False)


Mapping = type("Mapping", (), {"keys": lambda self: iter(["k"]), "__getitem__": lambda self, key: 1})
Tricky = type("Tricky", (dict,), {"items": raiser(AssertionError), "__iter__": raiser(AssertionError)})


@pytest.mark.parametrize("field, value", [
    (f.Str(), b"x\xc3\xa9"), (f.Str(), StrSub("s")), (f.Str(), type("B", (bytes,), {"decode": lambda s, *a: "d"})(b"q")),
    (f.Int(), 7.9), (f.Int(as_string=True), True), (f.Float(as_string=True), 2),
    (f.Uuid(), StrSub("s")), (f.IP(), [1]), (f.Date("%Y/%m/%d"), datetime.date(2020, 1, 2)), (f.Date("%Y"), "no"),
    (f.Enum(Color, by_value=f.Int()), Color.BLUE), (f.Enum(Color, by_value=f.Str()), Color.RED),
    (f.Dict(), [("a", 1)]), (f.Dict(keys=f.Str()), {1: "a", "1": "b"}), (f.Dict(keys=f.Str()), Tricky({1: "a"})),
    (f.Dict(keys=f.List(f.Raw())), {"ab": 1}), (f.List(f.Str()), "ab"), (f.List(f.Raw()), {"k": 1}), (f.List(f.Raw()), 5),
    (f.List(f.List(f.Int(as_string=True))), [[1], [], (2, 3)]), (f.Tuple([f.Int(), f.Str()]), [True, b"x"]),
    (f.Tuple([f.Raw(), f.Raw()]), LyingLen([1, 2, 3])), (f.Tuple([f.Raw(), f.Raw()]), LyingLen([1])),
    (f.Tuple([f.Raw(), f.Raw()]), type("OwnIter", (tuple,), {"__iter__": lambda s: iter("xy")})((1, 2))),
    (f.Tuple([f.Raw()]), "a"), (f.Tuple([]), (0,)), (f.Tuple([f.Int()]), ["x"]), (f.Dict(values=f.Int()), {"a": "x"}),
    (f.Dict(), Mapping()), (f.List(f.Int()), ("1", "x")), (f.List(f.Int()), ("1",)), (f.Dict(), type("NoKeys", (Mapping,), {"keys": raiser(KeyError)})()),
    (f.Pluck(schema(x=f.Int(as_string=True)), "x"), {"x": 4}), (f.Pluck(schema(x=f.Raw()), "x"), {}),
    (f.Pluck(schema(x=f.Raw()), "x", many=True), lambda: ({"x": i} for i in range(2))),
    (f.Constant(MISSING), 1), (f.Function(serialize=lambda o: o["v"] * 2), 3),
])
def test_elements(field, value):
    check_dump(schema(v=field), lambda: {"v": value() if callable(value) and not isinstance(value, type) else value})


def test_int_and_float_are_the_builtins_taken_at_construction():
    p = dplan(dfield("i", (D.INT, False)), dfield("f", (D.FLOAT, False)))
    saved = builtins.int, builtins.float
    builtins.int = builtins.float = lambda v: "patched"
    try:
        before = p.run({"i": "3", "f": "2"}, False)
        after = dplan(dfield("f", (D.FLOAT, False)), dfield("g", (D.FLOAT, False)), dfield("i", (D.INT, True))).run(
            {"f": 2.5, "g": "1", "i": 3}, False)
    finally:
        builtins.int, builtins.float = saved
    assert before == {"i": 3, "f": 2.0}
    assert after == {"f": 2.5, "g": "patched", "i": "patched"}  # an exact float still passes


# -- one-shot inputs and host errors -----------------------------------------------------------

ONE_SHOT = {"generator": lambda: (x for x in [{"v": 1}]), "iterator": lambda: iter([{"v": 1}]),
            "map": lambda: map(dict, [{"v": 1}]), "file": lambda: io.StringIO('{"v": 1}\n')}
FALLIBLE = {"t": f.Tuple([f.Raw()], dump_default=[1, 2])}  # always falls back, after the other fields
SHAPES = {
    "many": (dict(v=f.Raw()), lambda x: x, True), "list": (dict(v=f.List(f.Raw())), lambda x: {"v": x}, False),
    "nested_many": (dict(v=f.Nested(schema(v=f.Str()), many=True)), lambda x: {"v": x}, False),
    "pluck_many": (dict(v=f.Pluck(schema(v=f.Str()), "v", many=True)), lambda x: {"v": x}, False),
    "deeper": (dict(n=f.Nested(schema(v=f.Str())), w=f.List(f.Raw())), lambda x: {"w": x}, False),
    "dict_pairs": (dict(v=f.Dict()), lambda x: {"v": map(lambda d: ("k", d), x)}, False),
}


@pytest.mark.parametrize("value", [[1], (1,), {1: 0}, {1}, frozenset([1]), "ab", StrSub("a"), b"a"])
def test_reiterable_inputs_are_read_in_a_plan_that_can_fall_back(value):
    check_dump(schema(v=f.List(f.Raw()), **FALLIBLE), {"v": value})


@pytest.mark.parametrize("fallible", [False, True])
@pytest.mark.parametrize("shape", sorted(SHAPES))
@pytest.mark.parametrize("kind", sorted(ONE_SHOT))
def test_one_shot_inputs_survive_a_fallback(fallible, shape, kind):
    fields, wrap, many = SHAPES[shape]
    check_dump(schema(**fields, **(FALLIBLE if fallible else {})), lambda: wrap(ONE_SHOT[kind]()), many)


def host_code(exc):
    Raising = type("Raising", (), {"__getattr__": raiser(exc), "__getitem__": raiser(exc), "__str__": raiser(exc),
                                   "serialize": raiser(exc)})
    obj = Raising()
    Colliding = type("Colliding", (), {"__hash__": lambda self: hash("a"), "__eq__": raiser(exc)})
    return {
        "getattr": (dplan(dfield("v", attr="__x")), type("G", (), {"__getattr__": raiser(exc)})()),
        "getitem": (dplan(dfield("v")), obj), "str": (dplan(dfield("v", (D.TEXT,))), {"v": obj}),
        "callable": (dplan(dfield("v", (D.CALL_FIELD, raiser(exc)), default=1)), {}),
        "serialize": (dplan((True, "v", "v", obj)), {}),
        "nested_list": (dplan(dfield("v", (D.NESTED, (None, [dfield("w", (D.LIST_OF, (D.TEXT,)))]), True))),
                        {"v": [{"w": [obj]}]}),
        "dict_key": (dplan(dfield("v", (D.DICT_OF, (D.TEXT,), None))), {"v": {obj: 1}}),
        "iteration": (dplan(dfield("v", (D.LIST_OF, (0,)))), {"v": map(raiser(exc), [1])}),
        "key_eq": (dplan(dfield("v", attr="a")), {Colliding(): 1}),
    }


@pytest.mark.parametrize("where", sorted(host_code(None)))
@pytest.mark.parametrize("exc_type", [Boom, KeyboardInterrupt, KeyError])
@pytest.mark.parametrize("method", ["run", "run_json"])
def test_host_exceptions_pass_as_themselves(where, exc_type, method):
    exc = exc_type("x")
    p, obj = host_code(exc)[where]
    # (A KeyError from __getitem__ means "absent"; the getattr after it raises it again.)
    # run_json leaves a one-shot iterator untouched to the host.
    one_shot = (method, where) == ("run_json", "iteration")
    with pytest.raises(AccelFallback if one_shot else exc_type) as info:
        getattr(p, method)(obj, False)
    assert one_shot or info.value is exc


# -- depth and garbage collection -----------------------------------------------------------------

class Host:
    """Holds its plan; its plan holds it back through one payload position."""

    serialize = __call__ = lambda self, *args: 1


PLACES = {
    "serialize_arg": lambda s: (s, []), "delegate_field": lambda s: (None, [(True, "k", "k", s)]),
    "default": lambda s: (None, [dfield("k", default=s)]), "call_field": lambda s: (None, [dfield("k", (D.CALL_FIELD, s))]),
    "constant": lambda s: (None, [dfield("k", (D.CONSTANT, s))]),
    "formatter": lambda s: (None, [dfield("k", (D.DATE_FORMAT, s, "%Y"))]),
    "nested_arg": lambda s: (None, [dfield("k", (D.NESTED, (s, []), False))]),
    "missing": lambda s: (None, [dfield("k")]), "load_known_keys": None,
}


@pytest.mark.parametrize("place", sorted(PLACES))
def test_plan_and_host_cycles_are_collected(place):
    s = Host()
    if place == "load_known_keys":
        s.plan = LoadDeserializer((False, 1, s, []), MISSING)
    else:
        s.plan = DumpSerializer(PLACES[place](s), s if place == "missing" else MISSING)
        s.plan.run({"k": None}, False)
    ref = weakref.ref(s)
    del s
    gc.collect()
    assert ref() is None


@pytest.mark.parametrize("width", [1, 8])
def test_records_holding_containers_join_cycle_collection(width):
    out = dplan(*(dfield(f"f{i}") for i in range(width - 1)), dfield("box")).run({"box": Host()}, False)
    assert gc.is_tracked(out)
    out["box"].back = out
    ref = weakref.ref(out["box"])
    del out
    gc.collect()
    assert ref() is None


# A record's host code runs in the pure dump's order: reads, conversions and the hashing
# of output keys that are str subclasses, field by field.
log = []


class Key(str):
    def __hash__(self):
        log.append(f"hash {str(self)}")
        return str.__hash__(self)


class Shown:
    def __str__(self):
        log.append("str")
        return "shown"


def getter(name, value):
    def get(self):
        log.append(f"get {name}")
        return value
    return property(get)


Obj = type("Obj", (), {n: getter(n, v) for n, v in {"a": 1, "b": Shown(), "c": "x", "d": 2.5}.items()})


@pytest.mark.parametrize("keys", [
    ("a", Key("b"), "c"), (Key("a"), "b", "c"), ("a", "b", "c"),  # below the template's size
    ("a", "b", Key("c"), "d", "e", "f", "g"), ("a", "b", "c", "d", "e", "f", "g"),  # wide: from the template
])
def test_host_code_order(keys):
    kinds = {"a": f.Raw, "b": f.Str, "c": f.Str, "d": f.Float}
    cls = schema(**{str(k): kinds.get(str(k), f.Raw)(data_key=k, attribute=str(k)) for k in keys})
    plan = cls.plans()[0]
    runs = []
    for dump in (lambda o: _pure.dump(cls, o, False), lambda o: plan.run(o, False)):
        log.clear()
        out = dump(Obj())
        runs.append((out, list(out), log[:]))
    assert runs[1] == runs[0]


@pytest.mark.parametrize("special", ["__dict__", "__class__", "__weakref__", "__doc__", "", "a b"])
def test_wide_record_keys_that_attributes_cannot_hold_alike(special):
    keys = ["a", special, "b", "c", "d", "e", "f"]
    cls = schema(**{f"k{i}": f.Raw(data_key=k, attribute=f"k{i}") for i, k in enumerate(keys)})
    plan = cls.plans()[0]
    for obj in ({}, {"k1": 1}, {f"k{i}": i for i in range(7)}):
        pure = _pure.dump(cls, obj, False)
        out = plan.run(obj, False)
        assert (out, list(out)) == (pure, list(pure))

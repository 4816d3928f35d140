"""The object-access rule, checked against the host's lookup written with the real
hasattr on every way a class can (seem to) have __getitem__; defaults, the sentinel,
delegates and record shape."""

import types

import pytest

from tests.support.dump_payloads import MISSING, TEXT, constant, delegate, field, plan


def reference_get_one(obj, key):
    if type(obj) is dict:
        return obj[key] if key in obj else getattr(obj, key, MISSING)
    if hasattr(obj, "__getitem__"):
        try:
            return obj[key]
        except (KeyError, IndexError, TypeError, AttributeError):
            pass
    return getattr(obj, key, MISSING)


def outcome(fn):
    try:
        return fn()
    except Exception as e:  # noqa: BLE001 - the type is the outcome
        return type(e)


def dumped(obj, attr):
    return plan(field("v", attr=attr)).run(obj, False).get("v", MISSING)


def item(self, key):
    return f"item:{key}"


def raise_(exc):
    def fn(*_):
        raise exc

    return fn


class Plain:
    k = "cls"


InBody = type("InBody", (Plain,), {"__getitem__": item})
ThroughBase = type("ThroughBase", (InBody,), {})
Slots = type("Slots", (), {"__slots__": ("k",)})
SlotsGetitem = type("SlotsGetitem", (), {"__slots__": ("k",), "__getitem__": item})
SlotNamedGetitem = type("SlotNamedGetitem", (), {"__slots__": ("__getitem__", "k")})  # never set
Meta = type("Meta", (type,), {"__getitem__": item})
WithMeta = Meta("WithMeta", (Plain,), {})


def instance_attr():
    obj = Plain()
    obj.__getitem__ = lambda key: "unused: obj[key] looks at the type"
    return obj


def with_slot(cls):
    obj = cls()
    obj.k = "slot"
    return obj


def changed_class(add):
    cls = type("Changing", (InBody,) if not add else (Plain,), {"__getitem__": item} if not add else {})
    obj = cls()
    if add:
        cls.__getitem__ = item
    else:
        del cls.__getitem__
        cls.__getitem__ = None  # present but not callable: obj[key] is a TypeError
    return obj


def getattribute_hiding(self, name):
    if name == "__getitem__":
        raise AttributeError(name)
    return object.__getattribute__(self, name)


SUBJECTS = {
    "plain": Plain,
    "in_body": InBody,
    "through_base": ThroughBase,
    "instance_attr": instance_attr,
    "getattr_all": type("GA", (), {"__getattr__": lambda self, n: f"ga:{n}"}),
    "getattr_not_getitem": type("GN", (Plain,), {"__getattr__": lambda self, n: raise_(AttributeError)()
                                               if n == "__getitem__" else f"ga:{n}"}),
    "getattr_raises": type("GR", (), {"__getattr__": lambda self, n: raise_(ValueError)()}),
    "getattribute_hides": type("GH", (InBody,), {"__getattribute__": getattribute_hiding}),
    "slots": lambda: with_slot(Slots),
    "slots_getitem": lambda: with_slot(SlotsGetitem),
    "slot_named_getitem": lambda: with_slot(SlotNamedGetitem),
    "property_absent": type("PA", (Plain,), {"__getitem__": property(raise_(AttributeError))}),
    "property_raises": type("PR", (Plain,), {"__getitem__": property(raise_(ValueError))}),
    "getitem_none": type("GNone", (Plain,), {"__getitem__": None}),
    "getitem_key_error": type("GK", (Plain,), {"__getitem__": raise_(KeyError)}),
    "getitem_value_error": type("GV", (Plain,), {"__getitem__": raise_(ValueError)}),
    "getitem_keyboard_interrupt": type("GI", (Plain,), {"__getitem__": raise_(KeyboardInterrupt)}),
    "metaclass_instance": WithMeta,
    "metaclass_class": lambda: WithMeta,
    "class_getitem": type("CG", (Plain,), {"__class_getitem__": classmethod(item)}),
    "class_gains_getitem": lambda: changed_class(add=True),
    "class_loses_getitem": lambda: changed_class(add=False),
    "dict_sub": lambda: type("DS", (dict,), {"k": "attr"})(k="item"),
    "dict_sub_absent": type("DS", (dict,), {"k": "attr"}),
    "list": lambda: [1, 2],
    "str": lambda: "text",
    "namespace": lambda: types.SimpleNamespace(k="ns"),
    "module": lambda: types.ModuleType("m"),
    "none": lambda: None,
}


@pytest.mark.parametrize("name", sorted(SUBJECTS))
@pytest.mark.parametrize("key", ["k", "absent", "__class__"])
def test_lookup_matches_the_hasattr_rule(name, key):
    obj = SUBJECTS[name]()
    try:
        expected = outcome(lambda: reference_get_one(obj, key))
    except KeyboardInterrupt:
        with pytest.raises(KeyboardInterrupt):
            dumped(obj, key)
        return
    assert outcome(lambda: dumped(obj, key)) == expected


def test_attribute_hook_is_asked_for_getitem_then_for_the_key():
    asked = []

    class Spy:
        def __getattr__(self, name):
            asked.append(name)
            raise AttributeError(name)

    assert dumped(Spy(), "k") is MISSING
    assert asked == ["__getitem__", "k"]


EMPTY = {}


@pytest.mark.parametrize(
    "attr, obj, expected",
    [
        ("items", EMPTY, EMPTY.items),  # an exact dict lacking the key gives its own attribute
        ("a.b", {"a": {"b": 2}}, 2),
        ("a.b", {"a": {}}, MISSING),
        ("a.b", {}, MISSING),  # the second piece is looked up on the sentinel itself
        ("a.b.c", {"a": types.SimpleNamespace(b={"c": 3})}, 3),
        ("a.", {"a": {"": 3}}, 3),
        (".a", {"": {"a": 4}}, 4),
        ("a..b", {"a": {"": {"b": 5}}}, 5),
        ("a.b", {"a.b": 6}, MISSING),
        ("é.ü", {"é": {"ü": 7}}, 7),
    ],
)
def test_dict_and_dotted_lookups(attr, obj, expected):
    assert dumped(obj, attr) == expected


def test_missing_piece_is_looked_up_on_the_sentinel():
    sentinel = type("Sentinel", (), {"b": "found on the sentinel"})()
    assert plan(field("v", attr="a.b"), missing=sentinel).run({}, False) == {"v": "found on the sentinel"}


@pytest.mark.parametrize("attr", ["k", "k.x"])
def test_dict_lookup_runs_key_equality_once(attr):
    calls = []
    Collides = type("Collides", (), {"__hash__": lambda self: hash("k"), "__eq__": lambda self, o: calls.append(o)})
    d = {Collides(): 1}
    assert "k" not in d
    one_lookup = len(calls)  # probing may meet the colliding entry more than once
    calls.clear()
    assert plan(field("v", attr=attr)).run(d, False) == {}
    assert len(calls) == one_lookup


@pytest.mark.parametrize(
    "fields, obj, expected",
    [
        ([field("v", TEXT)], {}, {}),
        ([field("v", TEXT, default=None)], {}, {"v": None}),
        ([field("v", TEXT, default=5)], {}, {"v": "5"}),
        ([field("v", default=1)], {"v": None}, {"v": None}),
        ([field("a", attr="x"), field("b"), field("a", attr="y")], {"x": 1, "b": 2, "y": 3}, {"a": 3, "b": 2}),
        ([], object(), {}),
    ],
)
def test_defaults_skips_and_duplicate_keys(fields, obj, expected):
    out = plan(*fields).run(obj, False)
    assert list(out.items()) == list(expected.items())


def test_converted_sentinel_is_stored_not_skipped():
    assert plan(field("v", constant(MISSING))).run({"v": 1}, False)["v"] is MISSING


class Field:
    def __init__(self, result):
        self.result, self.calls = result, []

    def serialize(self, attr, obj, arg):
        self.calls.append((attr, obj, arg))
        return self.result


@pytest.mark.parametrize("result, expected", [("out", {"k": "out"}), (None, {"k": None}), (MISSING, {})])
def test_delegate(result, expected):
    arg, obj, f = object(), object(), Field(result)
    assert plan(delegate("k", f, attr="a.b"), arg=arg).run(obj, False) == expected
    assert f.calls == [("a.b", obj, arg)]


@pytest.mark.parametrize(
    "obj, many, expected",
    [
        (None, True, {"v": "d"}),  # None with many is one object
        ([{"v": 1}, {"w": 2}], True, [{"v": 1}, {"v": "d"}]),
        ((), True, []),
        ({"a": 1}, True, [{"v": "d"}]),  # a dict iterates its keys
    ],
)
def test_many(obj, many, expected):
    assert plan(field("v", default="d"), field("w", TEXT, attr="nope")).run(obj, many) == expected


WIDE = [f"f{i}" for i in range(8)]


@pytest.mark.parametrize("present", [(), (0,), (7,), (0, 2, 4, 6), tuple(range(8))])
@pytest.mark.parametrize("keys", ["distinct", "str_subclass", "duplicate"])
def test_wide_records_keep_field_order(present, keys):
    out_keys = list(WIDE)
    if keys == "str_subclass":
        out_keys[3] = type("K", (str,), {})(out_keys[3])
    elif keys == "duplicate":
        out_keys[6] = out_keys[1]
    s = plan(*(field(k, attr=a) for k, a in zip(out_keys, WIDE)), delegate("d", Field(MISSING)))
    obj = {WIDE[i]: i for i in present}
    expected = {k: obj[a] for k, a in zip(out_keys, WIDE) if a in obj}
    assert list(s.run(obj, False).items()) == list(expected.items())

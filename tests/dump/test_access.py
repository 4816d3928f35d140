"""The object-access rule: exact dicts by key, then __getitem__, then attributes;
absence becomes the missing sentinel; everything else propagates unchanged."""

import types

import pytest

from tests.support.dump_payloads import MISSING, TEXT, delegate, field, plan


def reference_get_one(obj, key):
    """The host's lookup, written with the real hasattr."""
    if type(obj) is dict:
        if key in obj:
            return obj[key]
        try:
            return getattr(obj, key)
        except AttributeError:
            return MISSING
    if hasattr(obj, "__getitem__"):
        try:
            return obj[key]
        except (KeyError, IndexError, TypeError, AttributeError):
            pass
    try:
        return getattr(obj, key)
    except AttributeError:
        return MISSING


def outcome(fn):
    try:
        return fn()
    except Exception as e:  # noqa: BLE001 - the type is the outcome
        return type(e)


def dumped(obj, key):
    out = plan(field("v", attr=key)).run(obj, False)
    return out.get("v", MISSING)


# --- objects covering every way a class can (seem to) have __getitem__ ------------


class Plain:
    def __init__(self):
        self.k = "attr"


class InBody(Plain):
    def __getitem__(self, key):
        return f"item:{key}"


class ThroughBase(InBody):
    pass


class InstanceAttr(Plain):
    def __init__(self):
        super().__init__()
        self.__getitem__ = lambda key: "never used by obj[key]"


class GetattrAll:
    def __getattr__(self, name):
        return f"ga:{name}"


class GetattrNoGetitem:
    k = "cls"

    def __getattr__(self, name):
        if name == "__getitem__":
            raise AttributeError(name)
        return f"ga:{name}"


class GetattrRaises:
    def __getattr__(self, name):
        raise ValueError(name)


class GetattributeHides(InBody):
    def __getattribute__(self, name):
        if name == "__getitem__":
            raise AttributeError(name)
        return super().__getattribute__(name)


class Slots:
    __slots__ = ("k",)

    def __init__(self):
        self.k = "slot"


class SlotsWithGetitem:
    __slots__ = ("k",)

    def __init__(self):
        self.k = "slot"

    def __getitem__(self, key):
        return "item"


class SlotNamedGetitem:
    __slots__ = ("__getitem__", "k")

    def __init__(self):
        self.k = "slot"


class PropertyAbsent(Plain):
    @property
    def __getitem__(self):
        raise AttributeError("no")


class PropertyRaises(Plain):
    @property
    def __getitem__(self):
        raise ValueError("boom")


class GetitemNone(Plain):
    __getitem__ = None


class GetitemRaisesKey(Plain):
    def __getitem__(self, key):
        raise KeyError(key)


class GetitemRaisesValue(Plain):
    def __getitem__(self, key):
        raise ValueError(key)


class Meta(type):
    def __getitem__(cls, key):
        return "meta-item"


class WithMeta(Plain, metaclass=Meta):
    pass


class ClassGetitem(Plain):
    def __class_getitem__(cls, key):
        return "class-item"


class DictSub(dict):
    k = "dict-sub-attr"


class ListSub(list):
    k = "list-sub-attr"


def later_gains_getitem():
    class Later(Plain):
        pass

    obj = Later()
    Later.__getitem__ = lambda self, key: "late"
    return obj


def later_loses_getitem():
    class Loses(InBody):
        def __getitem__(self, key):
            return "lost"

    obj = Loses()
    del Loses.__getitem__
    return obj


SUBJECTS = {
    "plain": Plain,
    "in_body": InBody,
    "through_base": ThroughBase,
    "instance_attr": InstanceAttr,
    "getattr_all": GetattrAll,
    "getattr_no_getitem": GetattrNoGetitem,
    "getattr_raises": GetattrRaises,
    "getattribute_hides": GetattributeHides,
    "slots": Slots,
    "slots_with_getitem": SlotsWithGetitem,
    "slot_named_getitem_unset": SlotNamedGetitem,
    "property_absent": PropertyAbsent,
    "property_raises": PropertyRaises,
    "getitem_none": GetitemNone,
    "getitem_raises_key": GetitemRaisesKey,
    "getitem_raises_value": GetitemRaisesValue,
    "metaclass_instance": WithMeta,
    "metaclass_class": lambda: WithMeta,
    "class_getitem": ClassGetitem,
    "dict_sub": lambda: DictSub(k="item"),
    "dict_sub_absent": DictSub,
    "list_sub": lambda: ListSub([1]),
    "list": lambda: [1, 2],
    "str": lambda: "text",
    "namespace": lambda: types.SimpleNamespace(k="ns"),
    "module": lambda: types.ModuleType("m"),
    "gains_getitem": later_gains_getitem,
    "loses_getitem": later_loses_getitem,
    "int": lambda: 5,
    "none": lambda: None,
}


@pytest.mark.parametrize("name", sorted(SUBJECTS))
@pytest.mark.parametrize("key", ["k", "absent", "__class__"])
def test_lookup_matches_hasattr_rule(name, key):
    obj = SUBJECTS[name]()
    assert outcome(lambda: dumped(obj, key)) == outcome(lambda: reference_get_one(obj, key))


def test_attribute_hook_is_asked_for_getitem_then_for_the_key():
    asked = []

    class Spy:
        def __getattr__(self, name):
            asked.append(name)
            raise AttributeError(name)

    assert dumped(Spy(), "k") is MISSING
    assert asked == ["__getitem__", "k"]


@pytest.mark.parametrize(
    "obj, key, expected",
    [
        ({"a": 1}, "a", 1),
        ({"a": None}, "a", None),
        ({}, "a", MISSING),
        ({}, "items", "bound items"),  # attribute of the dict itself
        (DictSub(a=1), "a", 1),
        (DictSub(), "k", "dict-sub-attr"),
        ([10, 20], "0", MISSING),  # list["0"] is a TypeError, swallowed
    ],
)
def test_dict_and_sequence_lookup(obj, key, expected):
    got = dumped(obj, key)
    if expected == "bound items":
        assert got == obj.items
    else:
        assert got == expected if expected is not MISSING else got is MISSING


@pytest.mark.parametrize(
    "attr, obj, expected",
    [
        ("a.b", {"a": {"b": 2}}, 2),
        ("a.b", {"a": {}}, MISSING),
        ("a.b", {}, MISSING),  # the second lookup runs on the sentinel itself
        ("a.b.c", {"a": types.SimpleNamespace(b={"c": 3})}, 3),
        ("a.b", {"a": [5]}, MISSING),
    ],
)
def test_dotted_paths(attr, obj, expected):
    got = dumped(obj, attr)
    assert got is expected if expected is MISSING else got == expected


def test_missing_piece_is_looked_up_on_the_sentinel():
    class Sentinel:
        b = "found on the sentinel"

    sentinel = Sentinel()
    s = plan(field("v", attr="a.b"), missing=sentinel)
    assert s.run({}, False) == {"v": "found on the sentinel"}


@pytest.mark.parametrize(
    "default, element, expected",
    [
        (MISSING, TEXT, {}),
        (None, TEXT, {"v": None}),
        (5, TEXT, {"v": "5"}),
    ],
)
def test_defaults(default, element, expected):
    assert plan(field("v", element, default=default)).run({}, False) == expected


def test_present_value_beats_default_even_when_none():
    assert plan(field("v", default=1)).run({"v": None}, False) == {"v": None}


def test_converted_sentinel_is_stored_not_skipped():
    s = plan(field("v", (11, MISSING)))
    assert s.run({"v": 1}, False)["v"] is MISSING


def test_duplicate_out_keys_later_wins_first_position():
    s = plan(field("a", attr="x"), field("b"), field("a", attr="y"))
    out = s.run({"x": 1, "b": 2, "y": 3}, False)
    assert list(out.items()) == [("a", 3), ("b", 2)]


class Field:
    def __init__(self, result):
        self.result = result
        self.calls = []

    def serialize(self, attr, obj, arg):
        self.calls.append((attr, obj, arg))
        return self.result


def test_delegate_calls_serialize_with_attribute_object_and_arg():
    arg = object()
    f = Field("out")
    obj = object()
    s = plan(delegate("k", f, attr="a.b"), arg=arg)
    assert s.run(obj, False) == {"k": "out"}
    assert f.calls == [("a.b", obj, arg)]


@pytest.mark.parametrize("result, expected", [(MISSING, {}), (None, {"k": None})])
def test_delegate_missing_result_skips_the_field(result, expected):
    assert plan(delegate("k", Field(result))).run({}, False) == expected


@pytest.mark.parametrize("many", [False, True])
def test_none_with_many_is_one_object(many):
    s = plan(field("v", default="d"), field("w"))
    assert s.run(None, many) == {"v": "d"}


def test_many_builds_a_list_in_order():
    s = plan(field("v"))
    assert s.run([{"v": 1}, {"v": 2}], True) == [{"v": 1}, {"v": 2}]
    assert s.run((), True) == []
    assert s.run({"a": 1}, True) == [{}]  # a dict iterates its keys, which lack "v"


def test_empty_plan_dumps_empty_dicts():
    assert plan().run(object(), False) == {}


@pytest.mark.parametrize("attr", ["k", "k.x"])
def test_dict_lookup_runs_key_equality_once(attr):
    calls = []

    class Collides:
        def __hash__(self):
            return hash("k")

        def __eq__(self, other):
            calls.append(other)
            return False

    assert plan(field("v", attr=attr)).run({Collides(): 1}, False) == {}
    assert calls == ["k"]

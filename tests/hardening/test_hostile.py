"""Host code that fights back, across all four calls: hooks that raise, interrupt or
return the wrong type, __getattr__ and __getitem__ that fail, callables that mutate
what is being dumped or loaded or re-enter the same plan. Every accelerated call must
equal the pure path on a fresh copy of the input, or fall back; none may crash."""

import copy
import decimal
import json

import pytest

from corvane_core import INCLUDE, MISSING, Schema
from corvane_core import fields as f
from corvane_core import validate as v
from tests.support.parity import check_dump, check_load, interrupt, schema
from tests.support.strategies import Boom, Hooks


def boom(*_):
    raise Boom


class Record:
    """Attributes through __getattr__ and items through __getitem__, each able to fail."""

    def __init__(self, attrs, getattr_mode=None, getitem_mode=None):
        self.__dict__.update(_attrs=attrs, _ga=getattr_mode, _gi=getitem_mode)

    def _fail(self, mode, key, absent):
        if mode in ("raise", "interrupt"):
            Hooks(mode)._act(None)
        if mode == "keyerror" or key not in self.__dict__["_attrs"]:
            raise absent(key)
        return self.__dict__["_attrs"][key]

    def __getattr__(self, key):
        return self._fail(self.__dict__["_ga"], key, AttributeError)

    def __getitem__(self, key):
        if self.__dict__["_gi"] is None:
            raise TypeError("attributes only")
        return self._fail(self.__dict__["_gi"], key, KeyError)


ShrinkingList = type("ShrinkingList", (list,), {"__iter__": lambda s: (s.__delitem__(slice(1, None)) or x
                                                                       for x in list(list.__iter__(s)))})
RaisingIter = type("RaisingIter", (list,), {"__iter__": lambda s: iter(map(lambda x: boom() if x == "b" else x, list(
    list.__iter__(s))))})
LyingLen = type("LyingLen", (list,), {"__len__": lambda self: 2})
BadLen = type("BadLen", (), {"__len__": boom})
SubStr = type("SubStr", (str,), {})


class Holder:
    """The schema a re-entrant callable calls back into, and the input being loaded."""

    cls = doc = None


class Hook(f.Custom):
    """A custom field whose conversion is a given host callable."""

    def __init__(self, fn, **kw):
        super().__init__(**kw)
        self.fn = fn

    def _serialize(self, value, attr, obj):
        return self.fn(value)

    def _deserialize(self, value, attr, data):
        return self.fn(value)


class Kid(Schema):
    n = f.Int()
    s = f.Str(allow_none=True)


def make_schema(extra=None, unknown="raise"):
    fields = dict(id=f.Int(), name=f.Str(), tags=f.List(f.Str()), kids=f.Nested(Kid, many=True),
                  meta=f.Dict(keys=f.Str(), values=f.Raw()), pair=f.Tuple([f.Str(), f.Float()]))
    Holder.cls = schema(unknown, **fields, **({"hook": extra} if extra else {}))
    return Holder.cls


def base():
    return {"id": 1, "name": "n", "tags": ["a", "b", "c"], "kids": [{"n": 1, "s": "x"}, {"n": 2, "s": None}],
            "meta": {"k": 1}, "pair": ["p", 1.5], "hook": "h"}


def with_(**changes):
    """A factory of the base record with ``changes``; values that are functions are
    called for each copy, the rest deep-copied."""
    return lambda: dict(base(), **{k: x() if callable(x) else copy.deepcopy(x) for k, x in changes.items()})


def aimed(key, mode="clear", inside=None):
    """The base record whose ``key`` holds a Hooks value aimed at its container."""
    def make():
        r = base()
        target = r if inside is None else r[inside]
        hooks = Hooks(mode, target)
        if isinstance(target, dict) and key is None:
            target[hooks] = 3  # a key: converting it changes the dict being walked
        else:
            target[key] = [target[key][0], hooks] if isinstance(target[key], list) else hooks
        return r
    return make


def colliding(mode):
    """A record whose first key collides with "id", so the lookup of "id" runs its __eq__."""
    def make():
        key = Hooks("quiet", key="id")
        r = {key: 0, **base()}
        key.mode = mode
        return r
    return make


def reenter(method):
    def call(value):
        plan = Holder.cls.plans()[0 if method.startswith("dump") else 1]
        data = {"id": 1, "name": str(value), "tags": []}
        return {"dump": lambda: plan.run(data, False), "dumps": lambda: plan.run_json(data, False),
                "load": lambda: plan.run(data, False, None), "loads": lambda: plan.run_json(json.dumps(data), False,
                                                                                             None)}[method]()
    return call


DUMP_CASES = {
    "getattr_raises": (None, lambda: Record(base(), "raise")), "getattr_interrupts": (None, lambda: Record(base(), "interrupt")),
    "getitem_keyerror": (None, lambda: Record(base(), None, "keyerror")),
    "getitem_raises": (None, lambda: Record(base(), None, "raise")),
    "getitem_interrupts": (None, lambda: Record(base(), None, "interrupt")),
    "str_raises": (None, with_(tags=lambda: ["a", Hooks("raise")])), "str_interrupts": (None, with_(name=lambda: Hooks("interrupt"))),
    "str_wrong_type": (None, with_(tags=lambda: [Hooks("wrong")])), "int_wrong_type": (None, with_(id=lambda: Hooks("wrong"))),
    "eq_raises_on_lookup": (None, colliding("raise")), "eq_interrupts_on_lookup": (None, colliding("interrupt")),
    "eq_clears_on_lookup": (None, colliding("clear")),
    "hash_raises_on_output_key": (f.Dict(keys=f.Raw()), with_(hook=lambda: {Hooks("raise", key="x"): 1})),
    "record_cleared": (None, aimed("tags")), "list_cleared": (None, aimed(1, inside="tags")),
    "dict_cleared": (None, aimed(None, inside="meta")),
    "list_shrinks_under_iteration": (None, with_(tags=lambda: ShrinkingList(["a", "b", "c"]))),
    "iteration_raises": (None, with_(tags=lambda: RaisingIter(["a", "b"]))),
    "tuple_len_lies": (None, with_(pair=lambda: LyingLen(["a", 1.0, 2.0]))),
    "reenters_run": (Hook(reenter("dump")), base), "reenters_run_json": (Hook(reenter("dumps")), base),
    "function_mutates_record": (f.Function(serialize=lambda obj: obj.clear()), base),
    "function_interrupts": (f.Function(serialize=interrupt), base),
    "returns_decimal": (Hook(lambda x: decimal.Decimal("1.5")), base), "returns_set": (Hook(lambda x: {1}), base),
    "returns_int_keys": (Hook(lambda x: {1: x}), base), "returns_str_subclass": (Hook(lambda x: SubStr("s")), base),
    "returns_self_containing": (Hook(lambda x: (lambda l: l.append(l) or l)([])), base),
}


@pytest.mark.parametrize("many", [False, True])
@pytest.mark.parametrize("case", sorted(DUMP_CASES))
def test_hostile_dump(case, many):
    extra, make = DUMP_CASES[case]
    check_dump(make_schema(extra), (lambda: [make(), make()]) if many else make, many, host=False)


class Names:
    """A partial selection whose `in` test and iteration do what ``mode`` says."""

    def __init__(self, mode):
        self.mode = mode

    def __contains__(self, name):
        return Hooks(self.mode)._act(name == "hook")

    def __iter__(self):
        return iter(["kids.s", "hook"]) if self.mode != "iter_raises" else boom()


def mutate_doc(action):
    def fn(value):
        action(Holder.doc)
        return value
    return fn


LOAD_CASES = {
    "key_eq_raises": (None, colliding("raise"), None), "key_eq_interrupts": (None, colliding("interrupt"), None),
    "key_eq_clears": (None, colliding("clear"), None),
    "dict_subclass_methods_not_called": (None, lambda: type("Sub", (dict,), {"__getitem__": boom, "get": boom,
                                         "keys": boom, "items": boom})(base()), None),
    "validator_raises": (f.Raw(validate=boom), base, None), "validator_interrupts": (f.Raw(validate=interrupt), base, None),
    "validator_clears_input": (f.Raw(validate=mutate_doc(dict.clear)), base, None),
    "converter_clears_input": (Hook(mutate_doc(dict.clear)), base, None),
    "converter_grows_list": (Hook(mutate_doc(lambda d: d["tags"].append("z"))), base, None),
    "list_grows_while_loaded": (f.List(Hook(mutate_doc(lambda d: len(d["hook"]) < 8 and d["hook"].append(0)))),
                                with_(hook=[1, 2]), None),
    "list_cleared_while_loaded": (f.List(Hook(mutate_doc(lambda d: d["hook"].clear()))), with_(hook=[1, 2, 3]), None),
    "dict_cleared_while_loaded": (f.Dict(values=Hook(mutate_doc(lambda d: d["hook"].clear()))),
                                  with_(hook={"a": 1, "b": 2}), None),
    "converter_raises": (Hook(boom), base, None), "converter_interrupts": (Hook(interrupt), base, None),
    "converter_wrong_type": (Hook(lambda x: object), base, None),
    "function_reenters_run": (f.Function(deserialize=reenter("load")), base, None),
    "function_reenters_run_json": (f.Function(deserialize=reenter("loads")), base, None),
    "int_hook_wrong_type": (None, with_(id=lambda: Hooks("wrong")), None),
    "int_hook_interrupts": (None, with_(id=lambda: Hooks("interrupt")), None),
    "eq_hook_in_validator": (f.Raw(validate=lambda x: x == 1), with_(hook=lambda: Hooks("raise")), None),
    "partial_contains_raises": (f.Int(required=True), with_(hook=MISSING), Names("raise")),
    "partial_contains_interrupts": (f.Int(required=True), with_(hook=MISSING), Names("interrupt")),
    "partial_iteration_raises": (None, base, Names("iter_raises")),
    "bool_membership_hash_raises": (f.Bool(), with_(hook=lambda: Hooks("raise")), None),
    "bool_membership_hash_interrupts": (f.Bool(), with_(hook=lambda: Hooks("interrupt")), None),
    "one_of_eq_raises": (f.Raw(validate=v.OneOf([1, 2])), with_(hook=lambda: Hooks("raise")), None),
    "one_of_eq_interrupts": (f.Raw(validate=v.OneOf([1, 2])), with_(hook=lambda: Hooks("interrupt")), None),
    "none_of_unhashable": (f.Raw(validate=v.NoneOf({1, 2})), with_(hook=[1]), None),
    "length_raises": (f.Raw(validate=v.Length(1, 3)), with_(hook=BadLen), None),
}


@pytest.mark.parametrize("unknown", ["raise", INCLUDE])
@pytest.mark.parametrize("many", [False, True])
@pytest.mark.parametrize("case", sorted(LOAD_CASES))
def test_hostile_load(case, many, unknown):
    extra, make, partial = LOAD_CASES[case]

    def data():
        d = make()
        if dict.get(d, "hook") is MISSING:
            dict.__delitem__(d, "hook")
        Holder.doc = d
        return [d, copy.copy(d)] if many else d
    check_load(make_schema(extra, unknown), data, many, partial, host=False)

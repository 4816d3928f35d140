"""Host code that fights back while records load: hooks that raise, interrupt or return
the wrong type, callables that mutate the input or re-enter the same plan, selections
whose tests fail. Every accelerated call must equal the pure path on a fresh copy of
the input, or fall back; none may crash. (The dump's own host errors, lookups and
mutations are in the dump tests.)"""

import copy
import json

import pytest

from corvane_core import INCLUDE, MISSING, Schema
from corvane_core import fields as f
from corvane_core import validate as v
from tests.support.parity import check_load, raiser, schema
from tests.support.strategies import Boom, Hooks


boom = raiser(Boom)
BadLen = type("BadLen", (), {"__len__": boom})


class Holder:
    """The schema a re-entrant callable calls back into, and the input being loaded."""

    cls = doc = None


class Hook(f.Custom):
    def __init__(self, fn, **kw):
        super().__init__(**kw)
        self.fn = fn

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


def colliding(mode):
    """A record whose first key collides with "id", so the lookup of "id" runs its __eq__."""
    def make():
        key = Hooks("quiet", key="id")
        r = {key: 0, **base()}
        key.mode = mode
        return r
    return make


def reenter(as_json):
    def call(value):
        data = {"id": 1, "name": str(value), "tags": []}
        plan = Holder.cls.plans()[1]
        return plan.run_json(json.dumps(data), False, None) if as_json else plan.run(data, False, None)
    return call


class Names:
    """A partial selection whose `in` test and iteration do what ``mode`` says."""

    def __init__(self, mode):
        self.mode = mode

    def __contains__(self, name):
        return Hooks(self.mode)._act(name == "hook")

    def __iter__(self):
        return iter(["kids.s", "hook"]) if self.mode != "iter_raises" else boom()


def mutate_doc(action):
    return lambda value: (action(Holder.doc), value)[1]


# Host hooks that raise, interrupt or return the wrong type, as the mode says.
HOOKED = {
    "key_eq_on_lookup": lambda m: (None, colliding(m), None),
    "converter": lambda m: (Hook(lambda _: Hooks(m)._act(None)), base, None),
    "validator": lambda m: (f.Raw(validate=lambda _: Hooks(m)._act(None)), base, None),
    "int_hook": lambda m: (None, with_(id=lambda: Hooks(m)), None),
    "partial_contains": lambda m: (f.Int(required=True), with_(hook=MISSING), Names(m)),
    "bool_membership_hash": lambda m: (f.Bool(), with_(hook=lambda: Hooks(m)), None),
    "one_of_eq": lambda m: (f.Raw(validate=v.OneOf([1, 2])), with_(hook=lambda: Hooks(m)), None),
    "eq_in_validator": lambda m: (f.Raw(validate=lambda x: x == 1), with_(hook=lambda: Hooks(m)), None),
}
LOAD_CASES = {
    **{f"{name}_{mode}": make(mode) for name, make in HOOKED.items() for mode in ("raise", "interrupt", "wrong")},
    "dict_subclass_methods_not_called": (None, lambda: type("Sub", (dict,), {"__getitem__": boom, "get": boom,
                                         "keys": boom, "items": boom})(base()), None),
    "validator_clears_input": (f.Raw(validate=mutate_doc(dict.clear)), base, None),
    "converter_clears_input": (Hook(mutate_doc(dict.clear)), base, None),
    "converter_grows_list": (Hook(mutate_doc(lambda d: d["tags"].append("z"))), base, None),
    "list_grows_while_loaded": (f.List(Hook(mutate_doc(lambda d: len(d["hook"]) < 8 and d["hook"].append(0)))),
                                with_(hook=[1, 2]), None),
    "list_cleared_while_loaded": (f.List(Hook(mutate_doc(lambda d: d["hook"].clear()))), with_(hook=[1, 2, 3]), None),
    "dict_cleared_while_loaded": (f.Dict(values=Hook(mutate_doc(lambda d: d["hook"].clear()))),
                                  with_(hook={"a": 1, "b": 2}), None),
    "function_reenters_run": (f.Function(deserialize=reenter(False)), base, None),
    "function_reenters_run_json": (f.Function(deserialize=reenter(True)), base, None),
    "partial_iteration_raises": (None, base, Names("iter_raises")),
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
        # The copy must not run the hooks of a dict subclass: its own methods may raise.
        return [d, copy.copy(d) if type(d) is dict else type(d)(dict.items(d))] if many else d
    check_load(make_schema(extra, unknown), data, many, partial, host=False)

"""A record's host code runs in the pure dump's order: reads, conversions and the hashing
of output keys that are str subclasses, field by field; wide records keep their keys in order."""

import pytest

from corvane_core import _pure
from corvane_core import fields as f
from tests.support.parity import schema

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

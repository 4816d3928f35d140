"""Records: lookup, required/default/None, delegated fields, unknown keys, dotted
attributes, nested plans and `many`."""

import pytest

from corvane_core._core import AccelFallback
from tests.support.load_payloads import (
    INT, KEEP, MISSING, REJECT, TEXT, bounds, callback, delegate, direct, loader, nested, plan,
)

DEFAULT = object()


def fb(d, data, many=False, partial=False):
    with pytest.raises(AccelFallback):
        d.run(data, many, partial)


@pytest.mark.parametrize("field, data, expected", [
    (direct("a", INT, default=DEFAULT), {}, {"a": DEFAULT}),  # stored as it is
    (direct("a", INT), {}, {}),
    (direct("a", INT, nullable=True, validators=[bounds(1)]), {"a": None}, {"a": None}),
    (direct("in", TEXT, attribute="out", name="n"), {"in": "x", "out": "y"}, {"out": "x"}),
    (direct("a", INT, required=True), {}, AccelFallback),
    (direct("a", INT), {"a": None}, AccelFallback),
    (direct("a", INT, validators=[bounds(5)]), {"a": 1}, AccelFallback),
])
def test_field_rules(field, data, expected):
    if expected is AccelFallback:
        return fb(loader(field), data)
    got = loader(field).run(data, False, False)
    assert got == expected and all(got[k] is v for k, v in expected.items())


def test_plan_order_and_plain_dict_reads_of_subclasses():
    class Shouty(dict):
        def __getitem__(self, key):
            raise AssertionError

        get = keys = items = __iter__ = __contains__ = __getitem__

    d = loader(direct("b"), direct("a", INT), direct("c", default=3), extra=KEEP)
    assert list(d.run(Shouty(a="1", b=2, z=0), False, False).items()) == [("b", 2), ("a", 1), ("c", 3), ("z", 0)]


class Field:
    def __init__(self, result=MISSING, exc=None):
        self.calls, self.result, self.exc = [], result, exc

    def deserialize(self, value, name, data, **kw):
        self.calls.append((value, name, data, kw))
        if self.exc:
            raise self.exc
        return self.result


@pytest.mark.parametrize("data, partial, call", [
    ({"k": 1}, False, (1, {})), ({}, None, (MISSING, {})), ({"k": 1}, True, (1, {"partial": True})),
    ({"k": 1}, ("n.x", "n", "m.y"), (1, {"partial": ["x"]})), ({"k": 1}, (), (1, {"partial": []})),
    ({}, True, None), ({}, ["n"], None),  # absent and selected: not called
])
def test_delegate_calls_the_host_field(data, partial, call):
    field = Field("r")
    got = loader(delegate("k", field, attribute="attr", name="n")).run(data, False, partial)
    assert got == ({"attr": "r"} if call else {})
    assert [(v, kw) for v, n, d, kw in field.calls] == ([call] if call else [])
    assert all(n == "n" and d is data for v, n, d, kw in field.calls)
    assert loader(delegate("k", Field())).run(data, False, partial) == {}  # missing: no key


@pytest.mark.parametrize("field, exc", [(Field(exc=ValueError()), AccelFallback), (object(), AccelFallback),
                                        (Field(exc=KeyboardInterrupt()), KeyboardInterrupt)])
def test_delegate_errors(field, exc):
    with pytest.raises(exc):
        loader(delegate("k", field)).run({"k": 1}, False, False)


def test_unknown_key_policies():
    seen = []
    fields = [direct("a", validators=[callback(seen.append)]), direct("b", default=0)]
    data = {"z": 1, "a": 2, "y": 3}
    assert loader(*fields).run(data, False, False) == {"a": 2, "b": 0}
    assert list(loader(*fields, extra=KEEP).run(data, False, False)) == ["a", "b", "z", "y"]
    fb(loader(*fields, extra=REJECT), data)
    assert seen == [2, 2, 2]  # Reject falls back only after the fields loaded
    key, value = "".join(["k"] * 9), object()  # Keep stores the input's objects, after the fields
    got = loader(direct("x", attribute="k" * 9), extra=KEEP, known=("x",)).run({"x": 1, key: value}, False, False)
    assert got == {key: value} and got[key] is value and next(iter(got)) is not key


@pytest.mark.parametrize("known", [frozenset({"a", 1}), {"a", 1}, ("b", "a", 1)])
@pytest.mark.parametrize("data, ok", [
    ({1: 0, "a": 0}, True), ({"a": 0, 1: 0}, True), ({"a": 0, "c": 0}, False), ({"a": 0, 1: 0, 2: 0}, False),
])
def test_reject_tests_every_key_against_known_keys(known, data, ok):
    d = loader(direct("a"), extra=REJECT, known=known)
    if not ok:
        return fb(d, data)
    assert d.run(data, False, False) == {"a": 0}


@pytest.mark.parametrize("policy", [REJECT, KEEP])
@pytest.mark.parametrize("mutation", [dict.clear, lambda d: d.update(new=1), lambda d: (d.pop("b"), d.update(n=1))])
def test_unknown_key_pass_stops_when_the_input_changes(policy, mutation):
    data = {"a": 1, "b": 2, "c": 3}
    known = type("K", (), {"__contains__": lambda self, k: k == "b" and mutation(data) or True})()
    fb(loader(extra=policy, known=known), data)
    broken = type("K", (), {"__contains__": lambda self, k: 1 / 0})()
    with pytest.raises(ZeroDivisionError):
        loader(direct("a"), extra=policy, known=broken).run({"a": 1}, False, False)


def test_dotted_attributes_share_intermediate_dicts():
    d = loader(direct("x", attribute="a.b"), direct("y", attribute="a.c"), direct("z", attribute="q.r.s"))
    assert d.run({"x": 1, "y": 2, "z": 3}, False, False) == {"a": {"b": 1, "c": 2}, "q": {"r": {"s": 3}}}
    assert loader(direct("x", attribute="a.b"), direct("y", attribute="a")).run({"x": 1, "y": 2}, False, False) == {"a": 2}
    fb(loader(direct("y", attribute="a"), direct("x", attribute="a.b")), {"x": 1, "y": 2})


def test_nested_and_many():
    d = loader(direct("n", nested(plan(direct("x", INT, required=True)))),
               direct("m", nested(plan(direct("x", INT), many=True))))
    data = {"n": {"x": "1"}, "m": ({"x": 2}, {"x": "3"})}
    assert d.run([data, data], True, False) == [{"n": {"x": 1}, "m": [{"x": 2}, {"x": 3}]}] * 2
    assert d.run((), True, False) == []
    for bad, many in [({"n": {}}, False), (data, True), ([data], False), ([data, 5], True), (iter([data]), True)]:
        fb(d, bad, many)


def test_deep_plans_load_and_release_their_depth():
    payload, data, bad = plan(direct("a", INT)), {"a": 1}, {"a": "x"}
    for _ in range(300):
        payload, data, bad = plan(direct("a", nested(payload))), {"a": data}, {"a": bad}
    d = loader(direct("a", nested(payload)))
    for _ in range(5):  # a depth count left behind by a fallback would fail the last run
        fb(d, {"a": bad})
    assert d.run({"a": data}, False, False) == {"a": {"a": data["a"]}}

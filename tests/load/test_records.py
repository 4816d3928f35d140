"""Records: lookup, required/default/None, delegated fields, unknown keys, dotted
attributes, nested plans and `many`."""

import pytest

from corvane_core._core import AccelFallback
from tests.support.load_payloads import (
    INT, KEEP, MISSING, PASS, REJECT, TEXT, bounds, delegate, direct, loader, nested, plan,
)


def fb(d, data, many=False, partial=False):
    with pytest.raises(AccelFallback):
        d.run(data, many, partial)


DEFAULT = object()


@pytest.mark.parametrize("field, data, expected", [
    (direct("a", INT, default=0), {}, {"a": 0}),
    (direct("a", INT, default=DEFAULT), {}, {"a": DEFAULT}),
    (direct("a", INT), {}, {}),
    (direct("a", INT, nullable=True, validators=[bounds(1)]), {"a": None}, {"a": None}),
    (direct("in", TEXT, attribute="out", name="n"), {"in": "x", "out": "y"}, {"out": "x"}),
])
def test_absent_and_none_values(field, data, expected):
    got = loader(field).run(data, False, False)
    assert got == expected
    if "a" in expected:
        assert got["a"] is expected["a"]


@pytest.mark.parametrize("field, data", [
    (direct("a", INT, required=True), {}),
    (direct("a", INT, required=True, default=1), {}),
    (direct("a", INT), {"a": None}),
    (direct("a", INT, validators=[bounds(5)]), {"a": 1}),
])
def test_field_level_fallbacks(field, data):
    fb(loader(field), data)


def test_fields_are_stored_in_plan_order():
    d = loader(direct("b"), direct("a"), direct("c", default=3))
    assert list(d.run({"a": 1, "b": 2}, False, False)) == ["b", "a", "c"]


def test_dict_subclass_is_read_with_plain_dict_operations():
    class Shouty(dict):
        def __getitem__(self, key):
            raise AssertionError

        get = keys = items = __iter__ = __contains__ = __getitem__

    data = Shouty(a="1", extra=2)
    assert loader(direct("a", INT), extra=KEEP).run(data, False, False) == {"a": 1, "extra": 2}
    fb(loader(direct("a", INT), extra=REJECT), data)


class Field:
    def __init__(self, result=MISSING, exc=None):
        self.calls, self.result, self.exc = [], result, exc

    def deserialize(self, value, name, data, **kw):
        self.calls.append((value, name, data, kw))
        if self.exc:
            raise self.exc
        return self.result


@pytest.mark.parametrize("data, partial, expected_call, expected", [
    ({"k": 1}, False, (1, "n", {}), {"attr": "r"}),
    ({}, None, (MISSING, "n", {}), {"attr": "r"}),
    ({"k": 1}, True, (1, "n", {"partial": True}), {"attr": "r"}),
    ({"k": 1}, ("n.x", "n", "m.y"), (1, "n", {"partial": ["x"]}), {"attr": "r"}),
    ({"k": 1}, (), (1, "n", {"partial": []}), {"attr": "r"}),
])
def test_delegate_calls_the_host_field(data, partial, expected_call, expected):
    field = Field("r")
    got = loader(delegate("k", field, attribute="attr", name="n")).run(data, False, partial)
    assert got == expected
    value, name, passed, kw = field.calls[0]
    assert (value, name, kw) == expected_call and passed is data


@pytest.mark.parametrize("partial", [True, ["n"]])
def test_absent_delegate_is_skipped_under_partial(partial):
    field = Field("r")
    assert loader(delegate("k", field, name="n")).run({}, False, partial) == {}
    assert field.calls == []


def test_delegate_results_and_errors():
    assert loader(delegate("k", Field())).run({"k": 1}, False, False) == {}
    fb(loader(delegate("k", Field(exc=ValueError()))), {"k": 1})
    fb(loader(delegate("k", object())), {"k": 1})
    with pytest.raises(KeyboardInterrupt):
        loader(delegate("k", Field(exc=KeyboardInterrupt()))).run({"k": 1}, False, False)


def test_unknown_key_policies():
    fields = [direct("a"), direct("b", default=0)]
    data = {"z": 1, "a": 2, "y": 3}
    assert loader(*fields).run(data, False, False) == {"a": 2, "b": 0}
    kept = loader(*fields, extra=KEEP).run(data, False, False)
    assert list(kept.items()) == [("a", 2), ("b", 0), ("z", 1), ("y", 3)]
    fb(loader(*fields, extra=REJECT), data)
    assert loader(*fields, extra=REJECT, known={"a", "y", "z"}).run(data, False, False) == {"a": 2, "b": 0}


def test_keep_stores_the_input_objects_and_may_replace_a_field():
    key, value = "".join(["k"] * 20), object()
    got = loader(direct("x", attribute="k" * 20), extra=KEEP, known=("x",)).run(
        {"x": 1, key: value}, False, False)
    assert got == {key: value} and got[key] is value
    assert next(iter(got)) is not key  # the field's key stayed; only its value was replaced


def test_reject_falls_back_only_after_the_fields_loaded():
    seen = []
    d = loader(direct("a", PASS, validators=[(6, seen.append)]), extra=REJECT)
    fb(d, {"a": 1, "zz": 2})
    assert seen == [1]


@pytest.mark.parametrize("known", [
    lambda: Contains(lambda k: 1 / 0),
])
def test_known_keys_errors_propagate_unchanged(known):
    for policy in (REJECT, KEEP):
        with pytest.raises(ZeroDivisionError):
            loader(direct("a"), extra=policy, known=known()).run({"a": 1}, False, False)


class Contains:
    def __init__(self, fn):
        self.fn = fn

    def __contains__(self, key):
        return self.fn(key)


@pytest.mark.parametrize("mutation", [
    lambda d: d.clear(),
    lambda d: d.update(new=1),
    lambda d: (d.pop("b"), d.update(new=1)),
])
def test_keep_stops_when_the_input_changes_under_it(mutation):
    data = {"a": 1, "b": 2, "c": 3}

    def known(key):
        if key == "b":
            mutation(data)
        return False

    fb(loader(extra=KEEP, known=Contains(known)), data)


def test_dotted_attributes_share_intermediate_dicts():
    d = loader(direct("x", attribute="a.b"), direct("y", attribute="a.c"), direct("z", attribute="q.r.s"))
    assert d.run({"x": 1, "y": 2, "z": 3}, False, False) == {"a": {"b": 1, "c": 2}, "q": {"r": {"s": 3}}}
    replaced = loader(direct("x", attribute="a.b"), direct("y", attribute="a"))
    assert replaced.run({"x": 1, "y": 2}, False, False) == {"a": 2}
    fb(loader(direct("y", attribute="a"), direct("x", attribute="a.b")), {"x": 1, "y": 2})


def test_nested_and_many():
    inner = plan(direct("x", INT, required=True))
    d = loader(direct("n", nested(inner)), direct("m", nested(plan(direct("x", INT), many=True))))
    data = {"n": {"x": "1"}, "m": ({"x": 2}, {"x": "3"})}
    assert d.run(data, False, False) == {"n": {"x": 1}, "m": [{"x": 2}, {"x": 3}]}
    assert d.run([data, data], True, False) == [d.run(data, False, False)] * 2
    assert d.run((), True, False) == []
    fb(d, {"n": {}})
    fb(d, data, many=True)
    fb(d, [data], many=False)
    fb(d, [data, 5], many=True)
    fb(d, iter([data]), many=True)


def test_deep_plans_load_and_release_their_depth():
    payload, data, bad = plan(direct("a", INT)), {"a": "1"}, {"a": "x"}
    for _ in range(300):
        payload = plan(direct("a", nested(payload)))
        data, bad = {"a": data}, {"a": bad}
    d = loader(direct("a", nested(payload)))
    for _ in range(5):  # a depth counter left behind by a fallback would fail a later run
        fb(d, {"a": bad})
    got = d.run({"a": data}, False, False)
    for _ in range(301):
        got = got["a"]
    assert got == {"a": 1}

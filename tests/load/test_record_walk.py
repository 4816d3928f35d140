"""A record may be read in one pass over its entries; host code that changes the record
during its load must still be seen by every later field and by the unknown-key pass, at
any nesting depth."""

import pytest

from tests.support.parity import L, AccelFallback, lfield, lpayload, lplan, same

INT = (L.INT,)


def changer(record, change):
    def convert(value, *_):
        change(record)
        return value
    return convert


def load(data, change, *, unknown="raise", nested=False):
    """Fields a (the converter that applies `change` to the outer record), b, c (default
    0); with `nested`, a sits in a record nested under n."""
    a = lfield("a", (L.CALL_FIELD, changer(data, change)))
    first = lfield("n", (L.NESTED, lpayload(a))) if nested else a
    return lplan(first, lfield("b", INT), lfield("c", INT, default=0), unknown=unknown).run(data, False, None)


def rewrite(d):
    d["b"] = 5
    del d["c"]


@pytest.mark.parametrize("nested", [False, True])
@pytest.mark.parametrize("data, change, unknown, expected", [
    ({"b": 1, "c": 2}, rewrite, "raise", {"b": 5, "c": 0}),
    ({"b": 1, "c": 2}, lambda d: d.pop("b"), "raise", {"c": 2}),
    ({"b": 1, "c": 2, "z": 0}, lambda d: d.pop("z"), "raise", {"b": 1, "c": 2}),
    ({"b": 1, "c": 2}, lambda d: d.update(z=1), "raise", AccelFallback),
    ({"b": 1, "c": 2}, lambda d: d.update(z=1), "exclude", {"b": 1, "c": 2}),
    ({"b": 1, "c": 2}, lambda d: d.update(z=1), "include", {"b": 1, "c": 2, "z": 1}),
])
def test_later_fields_and_unknown_keys_see_what_host_code_changed(nested, data, change, unknown, expected):
    data = {"n": {"a": 9}, **data} if nested else {"a": 9, **data}
    if expected is AccelFallback:
        with pytest.raises(AccelFallback):
            load(data, change, unknown=unknown, nested=nested)
        return
    got = load(data, change, unknown=unknown, nested=nested)
    del got["n" if nested else "a"]
    assert same(got, expected)


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
    """The value being loaded must stay held while host code in its conversion removes it
    from the record (seen under ASan)."""
    key, outer = "".join(["n", "n"]), {}  # not the plan's key object: no copy of the record

    def drop(value, *_):
        outer.pop(key, None)
        return value

    inner = lpayload(lfield("a", (L.CALL_FIELD, drop)), lfield("b", (L.TEXT,)))
    element = (L.LIST_OF, (L.NESTED, inner), False) if as_list else (L.NESTED, inner)
    plan = lplan(lfield("nn", element))
    text = "".join(["x"] * 40)  # freed with the record unless held
    record = {"a": 1, "b": text, **{f"c{i}": i for i in range(6)}}
    outer[key] = [record] if as_list else record
    del record, text
    got = plan.run(outer, False, None)
    loaded = got["nn"][0] if as_list else got["nn"]
    assert loaded == {"a": 1, "b": "x" * 40}

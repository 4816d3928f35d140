"""Hostile input and host code that fights back: mutation, re-entry, raising keys, leaks."""

import gc
import uuid as uuidlib

import pytest

from corvane_core._core import AccelFallback
from tests.support.leaks import assert_no_leak
from tests.support.load_payloads import (
    DICT_COPY, INT, KEEP, PASS, REJECT, TEXT, bool_set, bounds, call, constant, delegate, dict_of,
    direct, float_, items_in, list_of, loader, member_of, nested, nested_key, plan, size_limit,
    tuple_of, uuid,
)


class EvilKey:
    """Hashes like a str key but runs host code on every comparison."""

    def __init__(self, text, on_eq):
        self.text, self.on_eq = text, on_eq

    def __hash__(self):
        return hash(self.text)

    def __eq__(self, other):
        return self.on_eq(other)


def test_lookup_keeps_values_alive_when_a_key_comparison_empties_the_input():
    data = {}
    data[EvilKey("a", lambda other: data.clear() or False)] = 0
    data["a"] = [object()]
    got = loader(direct("a", list_of(PASS)), direct("b", default=1)).run(data, False, False)
    assert got["b"] == 1


def test_converter_that_empties_the_input_keeps_the_taken_values():
    data = {"a": 1, "b": ["x" * 40], "c": 3}
    d = loader(direct("a", call(lambda v, x, y: data.clear() or v)), direct("b", list_of(TEXT)),
               extra=KEEP)
    assert d.run(data, False, False) == {"a": 1}


@pytest.mark.parametrize("policy", [REJECT, KEEP])
def test_raising_key_comparison_propagates(policy):
    def boom(other):
        raise ZeroDivisionError

    data = {EvilKey("a", boom): 1}
    with pytest.raises(ZeroDivisionError):
        loader(direct("a"), extra=policy, known={"a"}).run(data, False, False)


def test_reentrant_calls_into_the_same_plan():
    inner_results = []

    def recurse(v, a, b):
        if v > 0:
            inner_results.append(d.run({"n": v - 1}, False, False))
        return v

    d = loader(direct("n", call(recurse)))
    assert d.run({"n": 3}, False, False) == {"n": 3}
    assert inner_results == [{"n": 0}, {"n": 1}, {"n": 2}]


def test_plan_released_during_its_own_run_stays_usable_until_it_returns():
    holder = {}

    def drop(v, a, b):
        holder.clear()
        gc.collect()
        return v

    holder["d"] = loader(direct("a", call(drop)), direct("b", list_of(INT)))
    assert holder["d"].run({"a": 1, "b": ["2"]}, False, False) == {"a": 1, "b": [2]}


def test_many_over_a_list_mutated_by_a_converter():
    records = [{"a": 1}, {"a": 2}, {"a": 3}]

    def shrink(v, a, b):
        records.clear()
        return v

    assert loader(direct("a", call(shrink))).run(records, True, False) == [{"a": 1}]


def test_huge_and_odd_numbers():
    d = loader(direct("i", INT), direct("f", float_()), direct("b", PASS, validators=[bounds(0, 10**100)]))
    assert d.run({"i": 10**1000, "f": 2**60, "b": 10**99}, False, False)["i"] == 10**1000
    with pytest.raises(AccelFallback):
        d.run({"i": 1, "f": 1.0, "b": 10**101}, False, False)


# A plan that touches every kind, with inputs that succeed and that fall back at many
# different depths; leak checks watch the plan's and the input's objects.
DEFAULT, CONST = object(), object()
WIDE = loader(
    direct("t", TEXT), direct("i", INT, validators=[bounds(0, 100)]), direct("f", float_()),
    direct("l", list_of(INT, True), validators=[size_limit(max_len=5), items_in({None, 1, 2})]),
    direct("tu", tuple_of(TEXT, INT)), direct("d", dict_of(TEXT, [], INT, [bounds(0)])),
    direct("dc", DICT_COPY), direct("c", constant(CONST)), direct("bs", bool_set({"y"}, {"n"})),
    direct("u", uuid(uuidlib.UUID)), direct("m", PASS, validators=[member_of({1, 2})]),
    direct("n", nested(plan(direct("x", INT, required=True)))),
    direct("nk", nested_key(plan(direct("k", INT)), "k", True)),
    direct("dflt", default=DEFAULT), direct("dot", INT, attribute="p.q", nullable=True),
    delegate("del", type("F", (), {"deserialize": lambda self, v, n, d, **kw: v})()),
    extra=KEEP, known=frozenset({"t", "i", "f", "l", "tu", "d", "dc", "c", "bs", "u", "m", "n", "nk",
                                 "dot", "del"}),
)
GOOD = {
    "t": "x", "i": "5", "f": 1, "l": [1, None, "2"], "tu": ["a", "3"], "d": {"k": "4"},
    "dc": {"z": 1}, "c": 0, "bs": "n", "u": str(uuidlib.UUID(int=7)), "m": 2, "n": {"x": "1"},
    "nk": ["1", 2], "dot": None, "del": [1], "extra": [object()],
}
BAD = [dict(GOOD, **{k: v}) for k, v in [
    ("t", 5), ("i", "500"), ("f", "nan"), ("l", [1] * 9), ("l", [1, 99]), ("tu", ["a", 1, 2]),
    ("d", {"k": "-1"}), ("dc", []), ("bs", "?"), ("u", "not-a-uuid"), ("m", 3), ("n", {}),
    ("nk", [1, "x"]), ("dot", "x")]]


def test_wide_plan_loads():
    got = WIDE.run(GOOD, False, False)
    assert got["c"] is CONST and got["dflt"] is DEFAULT and got["extra"] is GOOD["extra"]
    assert got["p"] == {"q": None} and got["tu"] == ("a", 3) and got["nk"] == [{"k": 1}, {"k": 2}]
    for bad in BAD:
        with pytest.raises(AccelFallback):
            WIDE.run(bad, False, False)


def test_no_leak_over_repeated_loads_and_fallbacks():
    partials = [False, True, ["n.x", "l"], ("d",)]

    def once():
        for p in partials:
            WIDE.run(GOOD, False, p)
            WIDE.run([GOOD, GOOD], True, p)
            for bad in BAD:
                try:
                    WIDE.run(bad, False, p)
                except AccelFallback:
                    pass

    assert_no_leak(once, rounds=200, warmup=20, watch=(DEFAULT, CONST, GOOD["extra"], GOOD["l"]))


def test_no_leak_when_construction_fails():
    good_fields = [direct("a", list_of(nested(plan(direct("x", INT)))), validators=[bounds(1)])]
    marker = object()

    def build_bad():
        try:
            loader(*good_fields, direct("b", constant(marker)), direct("c", (99,)))
        except ValueError:
            pass

    assert_no_leak(build_bad, rounds=400, warmup=40, watch=(marker,))

import gc
import uuid as uuidlib

import pytest

from corvane_core._core import AccelFallback
from tests.support.leaks import assert_no_leak
from tests.support.load_payloads import (
    DICT_COPY, INT, KEEP, PASS, TEXT, bool_set, bounds, call, constant, delegate, dict_of, direct,
    float_, items_in, list_of, loader, member_of, nested, nested_key, plan, size_limit, tuple_of, uuid,
)


def test_taken_values_survive_host_code_that_empties_the_input():
    data = {}
    evil = type("EvilKey", (), {"__hash__": lambda s: hash("a"), "__eq__": lambda s, o: data.clear()})
    data[evil()] = 0  # its __eq__ runs during the lookup of "a"
    data["a"] = [object()]
    assert len(loader(direct("a", list_of(PASS))).run(data, False, False)["a"]) == 1
    data = {"a": 1, "b": ["x" * 40], "c": 3}
    d = loader(direct("a", call(lambda v, x, y: data.clear() or v)), direct("b", list_of(TEXT)), extra=KEEP)
    assert d.run(data, False, False) == {"a": 1}
    records = [{"a": 1}, {"a": 2}, {"a": 3}]
    assert loader(direct("a", call(lambda v, x, y: records.clear() or v))).run(records, True, False) == [{"a": 1}]


def test_reentrant_calls_and_a_plan_dropped_during_its_run():
    inner = []
    d = loader(direct("n", call(lambda v, a, b: v > 0 and inner.append(d.run({"n": v - 1}, False, False)) or v)))
    assert d.run({"n": 3}, False, False) == {"n": 3} and inner == [{"n": 0}, {"n": 1}, {"n": 2}]
    holder = {}
    holder["d"] = loader(direct("a", call(lambda v, a, b: (holder.clear(), gc.collect(), v)[2])),
                         direct("b", list_of(INT)))
    assert holder["d"].run({"a": 1, "b": ["2"]}, False, False) == {"a": 1, "b": [2]}


# A plan that touches every kind, with inputs that succeed and that fall back at many
# different depths; the leak check watches the plan's and the input's objects.
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
    extra=KEEP, known=frozenset("t i f l tu d dc c bs u m n nk dot del".split()),
)
GOOD = {
    "t": "x", "i": "5", "f": 1, "l": [1, None, "2"], "tu": ["a", "3"], "d": {"k": "4"}, "dc": {"z": 1},
    "c": 0, "bs": "n", "u": str(uuidlib.UUID(int=7)), "m": 2, "n": {"x": "1"}, "nk": ["1", 2], "dot": None,
    "del": [1], "extra": [object()],
}
BAD = [dict(GOOD, **{k: v}) for k, v in [
    ("t", 5), ("i", "500"), ("f", "nan"), ("l", [1] * 9), ("l", [1, 9]), ("tu", ["a", 1, 2]),
    ("d", {"k": "-1"}), ("dc", []), ("bs", "?"), ("u", "not-a-uuid"), ("m", 3), ("n", {}),
    ("nk", [1, "x"]), ("dot", "x")]]


def test_wide_plan_loads_and_every_bad_field_falls_back():
    got = WIDE.run(GOOD, False, False)
    assert got["c"] is CONST and got["dflt"] is DEFAULT and got["extra"] is GOOD["extra"]
    assert got["p"] == {"q": None} and got["tu"] == ("a", 3) and got["nk"] == [{"k": 1}, {"k": 2}]
    for bad in BAD:
        with pytest.raises(AccelFallback):
            WIDE.run(bad, False, False)


def test_no_leak_over_repeated_loads_and_fallbacks():
    def once():
        for p in [False, True, ["n.x", "l"], ("d",)]:
            WIDE.run(GOOD, False, p)
            WIDE.run([GOOD, GOOD], True, p)
            for bad in BAD:
                try:
                    WIDE.run(bad, False, p)
                except AccelFallback:
                    pass

    assert_no_leak(once, rounds=200, warmup=20, watch=(DEFAULT, CONST, GOOD["extra"], GOOD["l"]))


def test_no_leak_when_construction_fails():
    marker = object()

    def build_bad():
        try:
            loader(direct("a", list_of(nested(plan(direct("x", INT)))), validators=[bounds(1)]),
                   direct("b", constant(marker)), direct("c", (99,)))
        except ValueError:
            pass

    assert_no_leak(build_bad, rounds=400, warmup=40, watch=(marker,))

import pytest

from corvane_core._core import AccelFallback
from tests.support.load_payloads import INT, direct, list_of, loader, nested, plan

# a: a nested record whose fields b (required) and c (default 0) may be selected.
INNER = plan(direct("b", INT, required=True), direct("c", INT, default=0))
SCHEMA = loader(direct("a", nested(INNER), required=True), direct("top", INT, default=9))


@pytest.mark.parametrize("partial, data, expected", [
    (True, {"a": {}}, {"a": {}}),
    (["a"], {}, {"top": 9}),
    (["a"], {"a": {"b": 1}}, {"a": {"b": 1, "c": 0}, "top": 9}),
    (("a.b",), {"a": {}}, {"a": {"c": 0}, "top": 9}),
    ({"a.b", "a.c", "top"}, {"a": {}}, {"a": {}}),
    ("atop", {}, {}),  # `in` on a str is a substring test
    (None, {"a": {"b": 1}}, {"a": {"b": 1, "c": 0}, "top": 9}),
    (("a.b",), {}, AccelFallback),  # a.b does not select a itself
    (["a"], {"a": {}}, AccelFallback),  # a's level sees an empty selection
    ((), {}, AccelFallback),
    (False, {}, AccelFallback),
    (["a", 1], {"a": {"b": 1}}, AccelFallback),  # a non-str entry, once a derivation runs
    (["a.\udc80"], {"a": {"b": 1}}, AccelFallback),  # no UTF-8 form: the host copes, we defer
    (iter(["a"]), {}, AccelFallback),  # `in` would consume it before the host's re-run
    ((x for x in ["a.b"]), {"a": {}}, AccelFallback),
    (0, {}, TypeError),
    (0, {"a": {"b": 1}}, TypeError),
])
def test_selections(partial, data, expected):
    if isinstance(expected, dict):
        assert SCHEMA.run(data, False, partial) == expected
    else:
        with pytest.raises(expected):
            SCHEMA.run(data, False, partial)


def test_iterator_selection_is_not_consumed():
    sel = iter(["a", "top"])
    with pytest.raises(AccelFallback):
        SCHEMA.run({}, False, sel)
    assert list(sel) == ["a", "top"]


def test_derived_selections_per_level():
    deepest = plan(direct("d", INT, required=True), direct("", INT, required=True))
    d = loader(direct("a", nested(plan(direct("b", nested(plan(direct("c", nested(deepest), required=True))))))))
    data = {"a": {"b": {"c": {}}}}
    for sel in (type("Sel", (list,), {})(["a.b.c.d", "x.y", "a.b.c."]), {"a.b.c.d", "a.b.c."}):
        assert d.run(data, False, sel) == data
    with pytest.raises(AccelFallback):
        d.run(data, False, ["a.b.c", "a.b.c.d"])


def test_list_items_share_the_selection():
    d = loader(direct("a", list_of(nested(INNER))))
    assert d.run({"a": [{}, {"b": 2}]}, False, ["a.b"]) == {"a": [{"c": 0}, {"b": 2, "c": 0}]}


def test_selection_errors_propagate():
    bad = type("Bad", (), {"__contains__": lambda s, i: 1 / 0, "__iter__": lambda s: 1 / 0})()
    for data in ({}, {"a": {"b": 1}}):
        with pytest.raises(ZeroDivisionError):
            SCHEMA.run(data, False, bad)

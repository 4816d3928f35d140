import pytest

from corvane_core._core import AccelFallback
from tests.support.load_payloads import INT, direct, list_of, loader, nested, plan

# a: a nested record whose fields b (required) and c (default 0) may be selected.
INNER = plan(direct("b", INT, required=True), direct("c", INT, default=0))


def schema(inner=INNER, **kw):
    return loader(direct("a", nested(inner), required=True, **kw), direct("top", INT, default=9))


def run(partial, data):
    return schema().run(data, False, partial)


@pytest.mark.parametrize("partial, data, expected", [
    (True, {}, {}),
    (True, {"a": {}}, {"a": {}}),
    (["a"], {}, {"top": 9}),
    (["a"], {"a": {"b": 1}}, {"a": {"b": 1, "c": 0}, "top": 9}),
    (("a.b",), {"a": {}}, {"a": {"c": 0}, "top": 9}),
    ({"a.b", "a.c"}, {"a": {}}, {"a": {}, "top": 9}),
    (["top", "a.b"], {"a": {}}, {"a": {"c": 0}}),
    ("atop", {}, {}),  # `in` on a str is a substring test
    (False, {"a": {"b": 1}}, {"a": {"b": 1, "c": 0}, "top": 9}),
    (None, {"a": {"b": 1}}, {"a": {"b": 1, "c": 0}, "top": 9}),
])
def test_selections(partial, data, expected):
    assert run(partial, data) == expected


@pytest.mark.parametrize("partial, data", [
    (("a.b",), {}),  # a.b does not select a itself
    (["a"], {"a": {}}),  # a present: its level sees an empty selection
    ((), {}),
    (False, {}),
    ([1], {"a": {"b": 1}}),
    (["a", 1], {"a": {"b": 1}}),
    (["a.\udc80"], {"a": {"b": 1}}),  # no UTF-8 form: the host handles it, we defer
    (iter(["a"]), {}),
    ((x for x in ["a.b"]), {"a": {}}),
])
def test_selections_that_fall_back(partial, data):
    with pytest.raises(AccelFallback):
        run(partial, data)


def test_iterator_selection_is_not_consumed():
    sel = iter(["a", "top"])
    with pytest.raises(AccelFallback):
        run(sel, {})
    assert list(sel) == ["a", "top"]


@pytest.mark.parametrize("data", [{}, {"a": {"b": 1}}])
def test_non_iterable_selection_raises_type_error(data):
    with pytest.raises(TypeError):
        run(0, data)


def test_derived_selections_per_level():
    class Sel(list):
        pass

    deepest = plan(direct("d", INT, required=True))
    middle = plan(direct("c", nested(deepest), required=True))
    d = loader(direct("a", nested(plan(direct("b", nested(middle))))))
    data = {"a": {"b": {"c": {}}}}
    assert d.run(data, False, Sel(["a.b.c.d", "x.y"])) == {"a": {"b": {"c": {}}}}
    assert d.run(data, False, {"a.b.c.d"}) == {"a": {"b": {"c": {}}}}
    with pytest.raises(AccelFallback):
        d.run(data, False, ["a.b.c"])


def test_trailing_dot_selects_the_empty_name():
    inner = plan(direct("", INT, required=True), direct("x", INT, default=1))
    assert schema(inner).run({"a": {}}, False, ["a."]) == {"a": {"x": 1}, "top": 9}


def test_list_items_share_the_selection():
    d = loader(direct("a", list_of(nested(INNER))))
    assert d.run({"a": [{}, {"b": 2}]}, False, ["a.b"]) == {"a": [{"c": 0}, {"b": 2, "c": 0}]}


def test_selection_errors_propagate():
    class Bad:
        def __contains__(self, item):
            raise LookupError

        def __iter__(self):
            raise LookupError

    with pytest.raises(LookupError):
        run(Bad(), {})
    with pytest.raises(LookupError):
        run(Bad(), {"a": {"b": 1}})

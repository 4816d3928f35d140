"""When a dump falls back (never after reading a one-shot iterator), and that host
exceptions otherwise pass through as themselves."""

import io

import pytest

from corvane_core._core import AccelFallback
from tests.support.dump_payloads import (
    DICT_COPY, PASS, TEXT, call_field, delegate, dict_of, field, list_of, nested, nested_key, plan, schema,
    tuple_of,
)


@pytest.mark.parametrize(
    "element, value",
    [
        (dict_of(), [("a", 1)]),
        (tuple_of(PASS), {1}),
        (tuple_of(PASS), "a"),
        (tuple_of(PASS), iter([1])),
        (tuple_of(PASS, PASS), [1, 2, 3]),
        (tuple_of(), (0,)),
        (list_of(tuple_of(PASS)), [[1], [1, 2]]),
    ],
)
def test_fallback_cases(element, value):
    with pytest.raises(AccelFallback) as info:
        plan(field("v", element)).run({"v": value}, False)
    assert type(info.value) is AccelFallback and info.value.args == ()


ONE_SHOT = {
    "generator": lambda: (x for x in [{"v": 1}]),
    "list_iterator": lambda: iter([{"v": 1}]),
    "map": lambda: map(dict, [{"v": 1}]),
    "file": lambda: io.StringIO('{"v": 1}\n'),
}


def shapes(fallible):
    # `fallible` puts a TupleOf elsewhere in the plan: then the whole call can fall back.
    extra = [field("t", tuple_of(), default=[])] if fallible else []
    inner = schema(field("v", TEXT), *extra)
    return {
        "many": (plan(field("v"), *extra), lambda x: x, True),
        "list_of": (plan(field("v", list_of()), *extra), lambda x: {"v": x}, False),
        "nested_many": (plan(field("v", nested(inner, many=True))), lambda x: {"v": x}, False),
        "nested_key_many": (plan(field("v", nested_key(inner, "v", many=True), default=0)), lambda x: {"v": x}, False),
        "deeper_list_of": (plan(field("n", nested(inner)), field("w", list_of()), *extra), lambda x: {"w": x}, False),
        "dict_copy": (plan(field("v", DICT_COPY), *extra), lambda x: {"v": map(lambda d: ("k", d), x)}, False),
    }


@pytest.mark.parametrize("fallible", [True, False])
@pytest.mark.parametrize("shape", sorted(shapes(True)))
@pytest.mark.parametrize("kind", sorted(ONE_SHOT))
def test_one_shot_iterables(fallible, shape, kind):
    s, wrap, many = shapes(fallible)[shape]
    source = ONE_SHOT[kind]()
    if fallible:
        with pytest.raises(AccelFallback):
            s.run(wrap(source), many)
        assert len(list(source)) == 1  # the host's re-run still sees all of it
    else:
        try:
            s.run(wrap(source), many)
        except KeyError:  # NestedKey on a file's lines: read all the same
            pass
        assert list(source) == []


class Mapping:
    def keys(self):
        return iter(["k"])  # one-shot, but the mapping hands out a new one each time

    def __getitem__(self, key):
        return 1


@pytest.mark.parametrize("value", [[("k", 1)], {"k": 1}, Mapping()])
def test_dict_copy_reads_pairs_and_mappings_in_a_plan_that_can_fall_back(value):
    assert plan(field("v", DICT_COPY), field("t", tuple_of(), default=())).run({"v": value}, False)["v"] == {"k": 1}


def test_a_later_fallback_protects_earlier_fields():
    s = plan(field("a", list_of()), field("b", nested(schema(field("t", tuple_of(PASS))))))
    gen = iter(range(3))
    with pytest.raises(AccelFallback):
        s.run({"a": gen, "b": {"t": [1]}}, False)
    assert list(gen) == [0, 1, 2]


@pytest.mark.parametrize(
    "value, expected",
    [([1], [1]), (type("L", (list,), {})([1]), [1]), ((1,), [1]), ({1: 0}, [1]), ({1}, [1]),
     (frozenset([1]), [1]), ("a", ["a"]), (type("S", (str,), {})("a"), ["a"]), (b"a", [97])],
)
def test_reiterable_inputs_are_read_in_a_plan_that_can_fall_back(value, expected):
    s = plan(field("v", list_of()), field("t", tuple_of(), default=()))
    assert s.run({"v": value}, False) == {"v": expected, "t": ()}


@pytest.mark.parametrize("fallible, exc", [(False, TypeError), (True, AccelFallback)])
def test_non_iterable_many_input(fallible, exc):
    with pytest.raises(exc):
        plan(field("v"), *([field("t", tuple_of(), default=())] if fallible else [])).run(5, True)


class Boom(Exception):
    pass


def raiser(exc):
    def fn(*_):
        raise exc

    return fn


def host_code(exc):
    Raising = type("Raising", (), {"__getattr__": raiser(exc), "__getitem__": raiser(exc),
                                   "__str__": raiser(exc), "serialize": raiser(exc)})
    obj = Raising()
    return {
        "getattr": (plan(field("v", attr="__x")), type("G", (), {"__getattr__": raiser(exc)})()),
        "getitem": (plan(field("v")), obj),
        "str": (plan(field("v", TEXT)), {"v": obj}),
        "callable": (plan(field("v", call_field(raiser(exc)), default=1)), {}),
        "serialize": (plan(delegate("v", obj)), {}),
        "nested_list": (plan(field("v", nested(schema(field("w", list_of(TEXT))), many=True))), {"v": [{"w": [obj]}]}),
        "dict_key": (plan(field("v", dict_of(TEXT))), {"v": {obj: 1}}),
        "tuple_item": (plan(field("v", tuple_of(TEXT))), {"v": [obj]}),
        "iteration": (plan(field("v", list_of())), {"v": map(raiser(exc), [1])}),
    }


@pytest.mark.parametrize("where", sorted(host_code(None)))
@pytest.mark.parametrize("exc_type", [Boom, KeyboardInterrupt, KeyError])
def test_host_exceptions_propagate_as_themselves(where, exc_type):
    exc = exc_type("x")
    s, obj = host_code(exc)[where]
    # (A KeyError from __getitem__ means "absent"; the getattr after it raises it again.)
    with pytest.raises(exc_type) as info:
        s.run(obj, False)
    assert info.value is exc

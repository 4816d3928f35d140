"""When a dump falls back, and that host exceptions otherwise pass through unchanged."""

import contextlib
import io

import pytest

from corvane_core._core import AccelFallback
from tests.support.dump_payloads import (
    PASS,
    TEXT,
    call_field,
    delegate,
    dict_of,
    field,
    list_of,
    nested,
    nested_key,
    plan,
    schema,
    tuple_of,
)


@pytest.mark.parametrize(
    "element, value",
    [
        (dict_of(), [("a", 1)]),
        (dict_of(), None.__class__),
        (tuple_of(PASS), {1}),
        (tuple_of(PASS), "a"),
        (tuple_of(PASS), iter([1])),
        (tuple_of(PASS, PASS), [1, 2, 3]),
        (tuple_of(PASS, PASS), (1,)),
        (tuple_of(), [0]),
        (list_of(tuple_of(PASS)), [[1], [1, 2]]),
    ],
)
def test_fallback_cases(element, value):
    with pytest.raises(AccelFallback) as info:
        plan(field("v", element)).run({"v": value}, False)
    assert type(info.value) is AccelFallback
    assert info.value.args == ()


def one_shot_inputs():
    return {
        "generator": lambda: (x for x in [{"v": 1}]),
        "list_iterator": lambda: iter([{"v": 1}]),
        "map": lambda: map(dict, [{"v": 1}]),
        "file": lambda: io.StringIO("line\n"),
    }


# Every place where the dump iterates its input; `fallible` adds a TupleOf elsewhere in
# the plan, which makes the whole call able to fall back.
def shapes(fallible):
    extra = [field("t", tuple_of(), default=[])] if fallible else []
    inner = schema(field("v"), *extra)
    return {
        "many": (plan(field("v"), *extra), lambda x: x, True),
        "list_of": (plan(field("v", list_of()), *extra), lambda x: {"v": x}, False),
        "nested_many": (plan(field("v", nested(inner, many=True))), lambda x: {"v": x}, False),
        "nested_key_many": (plan(field("v", nested_key(inner, "v", many=True))), lambda x: {"v": x}, False),
        "deep_list_of": (
            plan(field("n", nested(schema(field("v", list_of()), *extra)))),
            lambda x: {"n": {"v": x}},
            False,
        ),
    }


@pytest.mark.parametrize("shape", sorted(shapes(True)))
@pytest.mark.parametrize("kind", sorted(one_shot_inputs()))
def test_one_shot_iterables_fall_back_untouched_when_the_plan_can_fall_back(shape, kind):
    s, wrap, many = shapes(True)[shape]
    source = one_shot_inputs()[kind]()
    with pytest.raises(AccelFallback):
        s.run(wrap(source), many)
    # The host's re-run sees all of it.
    assert len(list(source)) == 1


@pytest.mark.parametrize("shape", sorted(shapes(False)))
@pytest.mark.parametrize("kind", sorted(one_shot_inputs()))
def test_one_shot_iterables_are_read_when_nothing_can_fall_back(shape, kind):
    s, wrap, many = shapes(False)[shape]
    source = one_shot_inputs()[kind]()
    with contextlib.suppress(KeyError):  # a file's lines lack the key NestedKey wants
        s.run(wrap(source), many)
    assert list(source) == []


def test_fallback_anywhere_in_the_plan_protects_earlier_fields():
    # The list is read before the TupleOf of a later field falls back; a generator there
    # would reach the host's re-run already empty.
    s = plan(field("a", list_of()), field("b", nested(schema(field("t", tuple_of(PASS))))))
    gen = (i for i in range(3))
    with pytest.raises(AccelFallback):
        s.run({"a": gen, "b": {"t": [1]}}, False)
    assert list(gen) == [0, 1, 2]


class ListSub(list):
    pass


class StrSub(str):
    pass


@pytest.mark.parametrize(
    "value, expected",
    [
        ([1], [1]),
        (ListSub([1]), [1]),
        ((1,), [1]),
        ({1: 0}, [1]),
        ({1}, [1]),
        (frozenset([1]), [1]),
        ("a", ["a"]),
        (StrSub("a"), ["a"]),
        (b"a", [97]),
    ],
)
def test_reiterable_inputs_are_read_in_a_plan_that_can_fall_back(value, expected):
    s = plan(field("v", list_of()), field("t", tuple_of(), default=()))
    assert s.run({"v": value}, False) == {"v": expected, "t": ()}


@pytest.mark.parametrize("fallible", [False, True])
def test_non_iterable_many_input_never_succeeds(fallible):
    s = plan(field("v"), *([field("t", tuple_of(), default=())] if fallible else []))
    with pytest.raises(AccelFallback if fallible else TypeError):
        s.run(5, True)


class Boom(Exception):
    pass


def raiser(exc):
    def fn(*_):
        raise exc

    return fn


class Getattr:
    def __init__(self, exc):
        self.exc = exc

    def __getattr__(self, name):
        raise self.exc


class Getitem:
    def __init__(self, exc):
        self.exc = exc

    def __getitem__(self, key):
        raise self.exc


class Str:
    def __init__(self, exc):
        self.exc = exc

    def __str__(self):
        raise self.exc


class Serialize:
    def __init__(self, exc):
        self.exc = exc

    def serialize(self, *_):
        raise self.exc


def sources(exc):
    return {
        "getattr": (plan(field("v")), Getattr(exc)),
        "getitem": (plan(field("v")), Getitem(exc)),
        "str": (plan(field("v", TEXT)), {"v": Str(exc)}),
        "callable_default": (plan(field("v", call_field(raiser(exc)), default=1)), {}),
        "serialize": (plan(delegate("v", Serialize(exc))), {}),
        "nested_list": (plan(field("v", nested(schema(field("w", list_of(TEXT))), many=True))), {"v": [{"w": [Str(exc)]}]}),
        "dict_key": (plan(field("v", dict_of(TEXT))), {"v": {Str(exc): 1}}),
        "tuple_item": (plan(field("v", tuple_of(TEXT))), {"v": [Str(exc)]}),
        "iteration": (plan(field("v", list_of())), {"v": map(raiser(exc), [1])}),
    }


@pytest.mark.parametrize("where", sorted(sources(None)))
@pytest.mark.parametrize("exc_type", [Boom, KeyboardInterrupt, KeyError, AttributeError])
def test_host_exceptions_propagate_unchanged(where, exc_type):
    exc = exc_type("x")
    s, obj = sources(exc)[where]
    if where == "getitem" and exc_type in (KeyError, AttributeError):
        # An absence from __getitem__: the attribute is tried next.
        assert s.run(obj, False) == {}
        return
    if where == "getattr" and exc_type is AttributeError:
        assert s.run(obj, False) == {}
        return
    with pytest.raises(BaseException) as info:
        s.run(obj, False)
    assert info.value is exc


def test_keyboard_interrupt_from_getitem_is_not_an_absence():
    with pytest.raises(KeyboardInterrupt):
        plan(field("v")).run(Getitem(KeyboardInterrupt()), False)

import pytest

from corvane_core._core import LoadDeserializer
from tests.support.load_payloads import (
    INT, MISSING, PASS, TEXT, bounds, delegate, direct, loader, nested, plan,
)


def build(payload):
    return LoadDeserializer(payload, MISSING)


def field_with(element=PASS, validators=()):
    return plan(direct("a", element, validators=validators))


CAST = "'{}' object cannot be cast as '{}'"


@pytest.mark.parametrize("payload, exc, message", [
    ([False, 1, None, []], TypeError, CAST.format("list", "tuple")),
    ((False, 1, None, ()), TypeError, CAST.format("tuple", "list")),
    ((1, 1, None, []), TypeError, CAST.format("int", "bool")),
    ((False, 256, None, []), OverflowError, "out of range integral type conversion attempted"),
    ((False, -1, None, []), OverflowError, "out of range integral type conversion attempted"),
    ((False, "1", None, []), TypeError, None),
    ((False, 1, None), IndexError, None),
    ((False, 1, None, [[]]), TypeError, CAST.format("list", "tuple")),
    # A Direct entry reads its validator list (position 8) before anything else.
    ((False, 1, None, [(False, 1, "a", "a", None, False, False, PASS)]), IndexError, None),
    ((False, 1, None, [(False, 1, "a", "a", None, False, False, PASS, [(9,)])]), ValueError,
     "unknown validator tag 9"),
    ((False, 1, None, [(False, 1, "a", "a", None, False, False, PASS, [])]), TypeError,
     CAST.format("int", "str")),
    ((False, 1, None, [(False, "k", "a", "a", None, 1, False, PASS, [])]), TypeError,
     CAST.format("int", "bool")),
    ((False, 1, None, [(False, "k", "a\udc80", "a", None, False, False, PASS, [])]),
     UnicodeEncodeError, None),
    ((False, 1, None, [(True, "k", "n", b"a", None)]), TypeError, CAST.format("bytes", "str")),
    (field_with((20,)), ValueError, "unknown load element tag 20"),
    (field_with((255,)), ValueError, "unknown load element tag 255"),
    (field_with((256,)), OverflowError, "out of range integral type conversion attempted"),
    (field_with(("0",)), TypeError, None),
    (field_with((3,)), IndexError, None),
    (field_with((3, 1)), TypeError, CAST.format("int", "bool")),
    (field_with((5, INT)), IndexError, None),
    (field_with((15, [INT])), TypeError, CAST.format("list", "tuple")),
    (field_with((15, (INT, (21,)))), ValueError, "unknown load element tag 21"),
    (field_with((16, plan(), b"k", False)), TypeError, CAST.format("bytes", "str")),
    (field_with((4, (False, 1, None, [direct("x", (99,))]))), ValueError, "unknown load element tag 99"),
    (field_with((14, None, 5, None, [])), TypeError, None),
    (field_with((14, None, [(7,)], None, [])), ValueError, "unknown validator tag 7"),
    (field_with(validators=[(256,)]), OverflowError, "out of range integral type conversion attempted"),
    (field_with(validators=[[0, None, None, True, True]]), TypeError, CAST.format("list", "tuple")),
    (field_with(validators=[(0, 1, None, 1, True)]), TypeError, CAST.format("int", "bool")),
    (field_with(validators=[(1, 1.5, None, None)]), TypeError, None),
    (field_with(validators=[(1, 2**64, None, None)]), OverflowError, None),
    (field_with(validators=[(0, None, None, True)]), IndexError, None),
])
def test_malformed_payloads_raise_the_decoding_error(payload, exc, message):
    with pytest.raises(exc) as info:
        build(payload)
    assert type(info.value) is exc
    if message is not None:
        assert str(info.value) == message


@pytest.mark.parametrize("payload", [
    (True, 1, frozenset(), []),
    (False, 7, None, []),
    (False, 0, None, [], "ignored"),
    # A Delegate entry needs only five positions, and extra positions are never read.
    (False, 1, None, [delegate("k", object())]),
    field_with((0, "anything", 5)),
    field_with((14, None, [], None, [])),
    field_with((14, None, iter([bounds(1)]), None, (v for v in [bounds(2)]))),
    field_with((15, ())),
    field_with(validators=[(1, -5, None, None), (6, "not callable")]),
])
def test_wellformed_payloads_decode(payload):
    build(payload)


def test_keyword_construction_and_fieldless_plan():
    d = LoadDeserializer(payload=(False, 1, frozenset(), []), missing=MISSING)
    assert d.run({"x": 1}, False, False) == {}


@pytest.mark.parametrize("attribute, expected", [
    ("a", {"a": 1}),
    ("a.b", {"a": {"b": 1}}),
    ("a..b", {"a": {"": {"b": 1}}}),
    (".a", {"": {"a": 1}}),
    ("a.", {"a": {"": 1}}),
])
def test_dotted_attributes_split_at_every_dot(attribute, expected):
    assert loader(direct("k", attribute=attribute)).run({"k": 1}, False, False) == expected


def test_deep_payload_raises_recursion_error():
    payload = plan()
    for _ in range(5000):
        payload = plan(direct("a", nested(payload)))
    with pytest.raises(RecursionError):
        build(payload)


def test_cyclic_payload_raises_recursion_error():
    fields = []
    payload = (False, 1, None, fields)
    fields.append(direct("a", nested(payload)))
    with pytest.raises(RecursionError):
        build(payload)


def test_field_list_shrunk_while_decoding_stops_at_its_end():
    fields = []

    class Tag:
        def __index__(self):
            fields.clear()
            return 2

    fields += [direct("a", (Tag(),)), direct("b", INT)]
    d = build((False, 1, None, fields))
    assert d.run({"a": "5", "b": 1}, False, False) == {"a": 5}


def test_root_many_flag_is_ignored_and_nested_many_is_read():
    inner = plan(direct("x", INT), many=True)
    d = build((True, 1, None, [direct("a", nested(inner))]))
    assert d.run({"a": [{"x": "1"}, {"x": 2}]}, False, False) == {"a": [{"x": 1}, {"x": 2}]}

import pytest

from corvane_core._core import LoadDeserializer
from tests.support.load_payloads import INT, MISSING, PASS, bounds, delegate, direct, loader, nested, plan


def with_field(element=PASS, validators=()):
    return plan(direct("a", element, validators=validators))


def entry(*items):
    return (False, 1, None, [items])


CAST = "'{}' object cannot be cast as '{}'"
RANGE = "out of range integral type conversion attempted"


@pytest.mark.parametrize("payload, exc, message", [
    ([False, 1, None, []], TypeError, CAST.format("list", "tuple")),
    ((False, 1, None, ()), TypeError, CAST.format("tuple", "list")),
    ((1, 1, None, []), TypeError, CAST.format("int", "bool")),
    ((False, 256, None, []), OverflowError, RANGE),
    ((False, 1, None), IndexError, None),
    # A Direct entry reads its validators (position 8) first, then attribute, then the rest.
    (entry(False, 1, "a", "a", None, False, False, PASS), IndexError, None),
    (entry(False, 1, "a", "a", None, False, False, PASS, [(9,)]), ValueError, "unknown validator tag 9"),
    (entry(False, 1, "a", "a", None, False, False, PASS, []), TypeError, CAST.format("int", "str")),
    (entry(False, "k", "a", "a", None, 1, False, PASS, []), TypeError, CAST.format("int", "bool")),
    (entry(False, "k", "a\udc80", "a", None, False, False, PASS, []), UnicodeEncodeError, None),
    (entry(True, "k", "n", b"a", None), TypeError, CAST.format("bytes", "str")),
    (with_field((20,)), ValueError, "unknown load element tag 20"),
    (with_field((256,)), OverflowError, RANGE),
    (with_field(("0",)), TypeError, None),
    (with_field((3, 1)), TypeError, CAST.format("int", "bool")),
    (with_field((15, [INT])), TypeError, CAST.format("list", "tuple")),
    (with_field((16, plan(), b"k", False)), TypeError, CAST.format("bytes", "str")),
    (with_field((4, (False, 1, None, [direct("x", (99,))]))), ValueError, "unknown load element tag 99"),
    (with_field((14, None, 5, None, [])), TypeError, None),
    (with_field((14, None, [(7,)], None, [])), ValueError, "unknown validator tag 7"),
    (with_field(validators=[[0, None, None, True, True]]), TypeError, CAST.format("list", "tuple")),
    (with_field(validators=[(0, 1, None, 1, True)]), TypeError, CAST.format("int", "bool")),
    (with_field(validators=[(1, 2**64, None, None)]), OverflowError, None),
])
def test_malformed_payloads_raise_the_decoding_error(payload, exc, message):
    with pytest.raises(exc) as info:
        LoadDeserializer(payload, MISSING)
    assert type(info.value) is exc
    assert message is None or str(info.value) == message


@pytest.mark.parametrize("payload", [
    (True, 7, frozenset(), [], "ignored"),
    (False, 1, None, [delegate("k", object())]),  # five positions are enough
    with_field((0, "anything", 5)),
    with_field((14, None, iter([bounds(1)]), None, (v for v in [bounds(2)]))),
    with_field((15, ())),
    with_field(validators=[(1, -5, None, None), (6, "not callable")]),
])
def test_wellformed_payloads_decode(payload):
    assert LoadDeserializer(payload=payload, missing=MISSING).run({}, False, True) == {}


@pytest.mark.parametrize("attribute, expected", [
    ("a", {"a": 1}), ("a.b", {"a": {"b": 1}}), ("a..b", {"a": {"": {"b": 1}}}),
    (".a", {"": {"a": 1}}), ("a.", {"a": {"": 1}}),
])
def test_dotted_attributes_split_at_every_dot(attribute, expected):
    assert loader(direct("k", attribute=attribute)).run({"k": 1}, False, False) == expected


def test_deep_and_cyclic_payloads_raise_recursion_error():
    deep = plan()
    for _ in range(5000):
        deep = plan(direct("a", nested(deep)))
    fields = []
    cyclic = (False, 1, None, fields)
    fields.append(direct("a", nested(cyclic)))
    for payload in (deep, cyclic):
        with pytest.raises(RecursionError):
            LoadDeserializer(payload, MISSING)


def test_field_list_shrunk_while_decoding_stops_at_its_end():
    class Tag:
        def __index__(self):
            fields.clear()
            return 2

    fields = [direct("a", (Tag(),)), direct("b", INT)]
    assert LoadDeserializer((False, 1, None, fields), MISSING).run({"a": "5", "b": 1}, False, False) == {"a": 5}

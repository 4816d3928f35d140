"""Decoding of dump payloads: conventions, exact errors, and what a decoded plan means."""

import pytest

from corvane_core._core import DumpSerializer
from tests.support.dump_payloads import MISSING, PASS, field, plan, schema


class TupleSub(tuple):
    pass


class ListSub(list):
    pass


class StrSub(str):
    pass


def build(payload):
    return DumpSerializer(payload, MISSING)


def build_element(element):
    return build(schema(field("v", element)))


@pytest.mark.parametrize(
    "element, exc, message",
    [
        ((17,), ValueError, "unknown element tag 17"),
        ((255,), ValueError, "unknown element tag 255"),
        ((256,), OverflowError, "out of range integral type conversion attempted"),
        ((-1,), OverflowError, "out of range integral type conversion attempted"),
        ((2**70,), OverflowError, "out of range integral type conversion attempted"),
        (("1",), TypeError, None),
        ((1.0,), TypeError, None),
        ((), IndexError, "tuple index out of range"),
        ([0], TypeError, "'list' object cannot be cast as 'tuple'"),
        ((2, 1), TypeError, None),  # an int is not a bool
        ((2,), IndexError, None),
        ((3, None), TypeError, None),
        ((4, [None, []], False), TypeError, "'list' object cannot be cast as 'tuple'"),
        ((4, (None, []), 0), TypeError, None),
        ((4, (None, ()), False), TypeError, "'tuple' object cannot be cast as 'list'"),
        ((5,), IndexError, None),
        ((5, (99,)), ValueError, "unknown element tag 99"),
        ((7, None), IndexError, None),
        ((7, None, b"%Y"), TypeError, "'bytes' object cannot be cast as 'str'"),
        ((8, (0,), (0,)), TypeError, None),  # position 1 is the bool, read first
        ((8, True), IndexError, None),
        ((9,), IndexError, None),
        ((11,), IndexError, None),
        ((13, None), IndexError, None),
        ((13, (42,), None), ValueError, "unknown element tag 42"),
        ((13, None, "x"), TypeError, "'str' object cannot be cast as 'tuple'"),
        ((14, [(0,)]), TypeError, "'list' object cannot be cast as 'tuple'"),
        ((14, ((0,), (18,), (300,))), ValueError, "unknown element tag 18"),  # first failure wins
        ((15, (None, []), 5, True), TypeError, "'int' object cannot be cast as 'str'"),
        ((15, (None, []), "k"), IndexError, None),
        ((15, (None, [(False, "k", "k", MISSING, (20,))]), 5), ValueError, "unknown element tag 20"),
    ],
)
def test_element_errors(element, exc, message):
    with pytest.raises(exc) as info:
        build_element(element)
    assert type(info.value) is exc
    if message is not None:
        assert str(info.value) == message


@pytest.mark.parametrize(
    "payload, exc, message",
    [
        ([None, []], TypeError, "'list' object cannot be cast as 'tuple'"),
        ((None, ()), TypeError, "'tuple' object cannot be cast as 'list'"),
        ((None,), IndexError, None),
        ((), IndexError, None),
        ((None, [[False, "k", "k", MISSING, PASS]]), TypeError, "'list' object cannot be cast as 'tuple'"),
        ((None, [(0, "k", "k", MISSING, PASS)]), TypeError, None),
        ((None, [(False, b"k", "k", MISSING, PASS)]), TypeError, "'bytes' object cannot be cast as 'str'"),
        ((None, [(False, "k", None, MISSING, PASS)]), TypeError, "'NoneType' object cannot be cast as 'str'"),
        ((None, [(False, "k", "k", MISSING)]), IndexError, None),
        ((None, [(True, "k", "k")]), IndexError, None),
        ((None, [(False, "k", "a\udcffb", MISSING, PASS)]), UnicodeEncodeError, None),
        ((None, [(False, "k", "a.\ud800", MISSING, PASS)]), UnicodeEncodeError, None),
        # Positions are read in order: the element fails before the attribute is split.
        ((None, [(False, "k", "a\ud800", MISSING, (99,))]), ValueError, "unknown element tag 99"),
        ((None, [(False, "k", "k", MISSING, PASS), (False, 3, "k", MISSING, PASS)]), TypeError, None),
    ],
)
def test_serializer_errors(payload, exc, message):
    with pytest.raises(exc) as info:
        build(payload)
    assert type(info.value) is exc
    if message is not None:
        assert str(info.value) == message


def test_cast_error_names_subclass_and_class_with_custom_name():
    class Odd:
        pass

    Odd.__name__ = "Renamed"
    with pytest.raises(TypeError, match=r"^'Renamed' object cannot be cast as 'tuple'$"):
        build(Odd())


@pytest.mark.parametrize(
    "payload",
    [
        (None, []),
        TupleSub((None, ListSub())),
        (None, [], "ignored", 5),
        (None, [TupleSub((False, StrSub("k"), StrSub("a"), 1, TupleSub((0,))))]),
        (None, [(False, "k", "a", 1, (0, "anything", 5))]),
        (None, [(True, "k", "a", object())]),
        (None, [(True, "k", "a", object(), "not read")]),
        (None, [(False, "k", "a", 1, (14, ()))]),
        (None, [(False, "k", "a", 1, (13, None, None))]),
        (None, [(False, "k", "a", 1, (7, "not callable", "%Y"))]),
        (None, [(False, "k", "a", 1, (11, None))]),
        (None, [(False, "k", "a", 1, (True, False))]),  # True is tag 1
    ],
)
def test_accepted_payloads(payload):
    build(payload)


@pytest.mark.parametrize(
    "attr, obj, expected",
    [
        ("a.b", {"a": {"b": 2}}, 2),
        ("a", {"a": 1, "a.": 9}, 1),
        ("a.", {"a": {"": 3}}, 3),
        (".a", {"": {"a": 4}}, 4),
        ("a..b", {"a": {"": {"b": 5}}}, 5),
        ("a.b", {"a.b": 6}, MISSING),
        ("é.ü", {"é": {"ü": 7}}, 7),
    ],
)
def test_dotted_attribute_is_split_into_pieces(attr, obj, expected):
    out = plan(field("k", attr=attr)).run(obj, False)
    assert out == ({} if expected is MISSING else {"k": expected})


def test_field_list_shrunk_while_decoding():
    # A tag's __index__ runs host code during decoding; it may empty the list that holds
    # the entry being decoded.
    fields = []

    class Tag:
        def __index__(self):
            fields.clear()
            return 0

    fields += [(False, "a", "a", MISSING, (Tag(),)), (False, "b", "b", MISSING, PASS)]
    s = build((None, fields))
    assert s.run({"a": 1, "b": 2}, False) == {"a": 1}


def test_equal_sub_payloads_decode_independently():
    inner = schema(field("x"))
    s = plan(field("p", (4, inner, False)), field("q", (4, inner, True)))
    assert s.run({"p": {"x": 1}, "q": [{"x": 2}]}, False) == {"p": {"x": 1}, "q": [{"x": 2}]}


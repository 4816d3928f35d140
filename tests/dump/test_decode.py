"""Decoding of dump payloads: the exact errors, and what is accepted."""

import pytest

from corvane_core._core import DumpSerializer
from tests.support.dump_payloads import MISSING, PASS, field, schema

CAST = "'{}' object cannot be cast as '{}'"
RANGE = "out of range integral type conversion attempted"


@pytest.mark.parametrize(
    "element, exc, message",
    [
        ((17,), ValueError, "unknown element tag 17"),
        ((255,), ValueError, "unknown element tag 255"),
        ((256,), OverflowError, RANGE),
        ((-1,), OverflowError, RANGE),
        ((2**70,), OverflowError, RANGE),
        (("1",), TypeError, None),
        ((), IndexError, "tuple index out of range"),
        ([0], TypeError, CAST.format("list", "tuple")),
        ((2, 1), TypeError, None),  # an int is not a bool
        ((2,), IndexError, None),
        ((4, (None, ()), False), TypeError, CAST.format("tuple", "list")),
        ((5, (99,)), ValueError, "unknown element tag 99"),
        ((7, None, b"%Y"), TypeError, CAST.format("bytes", "str")),
        ((8, (0,), (0,)), TypeError, None),  # the bool at 1 is read before the element at 2
        ((13, None, "x"), TypeError, CAST.format("str", "tuple")),
        ((14, [(0,)]), TypeError, CAST.format("list", "tuple")),
        ((14, ((0,), (18,), (300,))), ValueError, "unknown element tag 18"),  # first failure wins
        ((15, (None, []), 5, True), TypeError, CAST.format("int", "str")),
        ((15, (None, []), "k"), IndexError, None),
    ],
)
def test_element_errors(element, exc, message):
    with pytest.raises(exc) as info:
        DumpSerializer(schema(field("v", element)), MISSING)
    assert type(info.value) is exc
    assert message is None or str(info.value) == message


class Renamed:
    pass


Renamed.__name__ = "Other"  # the message takes the type's __name__


@pytest.mark.parametrize(
    "payload, exc, message",
    [
        ([None, []], TypeError, CAST.format("list", "tuple")),
        (Renamed(), TypeError, CAST.format("Other", "tuple")),
        ((None, ()), TypeError, CAST.format("tuple", "list")),
        ((None,), IndexError, None),
        ((None, [[False, "k", "k", MISSING, PASS]]), TypeError, CAST.format("list", "tuple")),
        ((None, [(0, "k", "k", MISSING, PASS)]), TypeError, None),
        ((None, [(False, "k", None, MISSING, PASS)]), TypeError, CAST.format("NoneType", "str")),
        ((None, [(False, "k", "k", MISSING)]), IndexError, None),
        ((None, [(True, "k", "k")]), IndexError, None),
        ((None, [(False, "k", "a.\ud800", MISSING, PASS)]), UnicodeEncodeError, None),
        ((None, [(False, "k", "a\ud800", MISSING, (99,))]), ValueError, "unknown element tag 99"),
    ],
)
def test_serializer_errors(payload, exc, message):
    with pytest.raises(exc) as info:
        DumpSerializer(payload, MISSING)
    assert type(info.value) is exc
    assert message is None or str(info.value) == message


@pytest.mark.parametrize(
    "payload",
    [
        (None, [], "ignored"),
        type("T", (tuple,), {})((None, type("L", (list,), {})())),
        (None, [(False, type("S", (str,), {})("k"), "a", 1, (0, "anything", 5))]),
        (None, [(True, "k", "a", object())]),  # a Delegate needs no element
        (None, [(False, "k", "a", 1, (14, ()))]),
        (None, [(False, "k", "a", 1, (13, None, None))]),
        (None, [(False, "k", "a", 1, (7, "not callable", "%Y"))]),
        (None, [(False, "k", "a", 1, (True, False))]),  # True is tag 1
    ],
)
def test_accepted_payloads(payload):
    DumpSerializer(payload, MISSING)


def test_field_list_shrunk_while_decoding():
    # A tag's __index__ is host code run mid-decoding; it may empty the list that holds
    # the entry being decoded.
    fields = []

    class Tag:
        def __index__(self):
            fields.clear()
            return 0

    fields += [field("a", (Tag(),)), field("b")]
    assert DumpSerializer((None, fields), MISSING).run({"a": 1, "b": 2}, False) == {"a": 1}

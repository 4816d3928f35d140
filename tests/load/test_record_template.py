"""Records start as a copy of the plan's attribute template and lose what stays unset:
the keys that remain, kept unknown keys included, must come in the order plain stores
give, on run and run_json alike."""

import json

import pytest

from tests.support.parity import lfield, lplan, same

# "a" loads into the attribute "x", which is also an unknown key of the input.
KEPT = lplan(lfield("a", attr="x"), lfield("b"), lfield("c", default=0), unknown="include")


@pytest.mark.parametrize("data, partial, expected", [
    ({"b": 1, "x": 2}, None, {"b": 1, "c": 0, "x": 2}),
    ({"x": 2, "a": 3, "b": 1}, None, {"x": 2, "b": 1, "c": 0}),
    ({"c": 5, "x": 2}, True, {"c": 5, "x": 2}),
    ({}, ("b",), {"c": 0}),
])
def test_unset_attributes_leave_before_unknown_keys_are_kept(data, partial, expected):
    assert same(KEPT.run(data, False, partial), expected)
    assert same(KEPT.run_json(json.dumps(data), False, partial), expected)

"""Shortcuts of the fused load that must not show in results: escaped strings decoded
straight to their code units, values shared within a call, boolean answers taken once,
and None left in place in a record template copy."""

import json

import pytest

from corvane_core import EXCLUDE
from corvane_core import fields as f
from tests.support.parity import check_loads, schema

TEXT = schema(EXCLUDE, v=f.List(f.Str()))


@pytest.mark.parametrize("values", [
    ["caf\u00e9", "\u00ff" * 40, "\u00e9t\u00e9 " * 30 + "x"],  # Latin-1 only
    ["\u4e2d\u6587" * 50, "a\u20acb\u00e9c", "\U0001f600" * 40 + "\u00e9", "\U0010ffff\uffff\u0100"],
    ["\n\t\"\\/" * 20, "\u0000", "\u00e9\u4e2d\U0001f600\n"],
])
@pytest.mark.parametrize("ascii_only", [True, False])
def test_escaped_strings(values, ascii_only):
    text = json.dumps({"v": values}, ensure_ascii=ascii_only)
    for doc in (text, text.encode()):
        assert check_loads(TEXT, doc, fast=True).value == {"v": values}


def test_repeated_and_unique_values_across_cache_windows():
    rows = [{"s": s, "i": i} for n in range(3000)
            for s, i in [("en", 10**9), (f"u{n}", 10**12 + n), ("a" * 16, -(2**40)), ("b" * 17, 257)]]
    rec = schema(EXCLUDE, s=f.Str(), i=f.Int())
    check_loads(schema(EXCLUDE, v=f.List(f.Nested(rec))), json.dumps({"v": rows}), fast=True)


class Truthy:
    calls = 0

    def __hash__(self):
        return hash(True)

    def __eq__(self, other):
        Truthy.calls += 1
        return other is True


@pytest.mark.parametrize("truthy, falsy", [
    (frozenset({"y"}), frozenset({False})),  # true has no answer, false has one
    (frozenset({Truthy()}), frozenset({False})),  # host code in the test, asked per node
    ({True}, {False}),  # mutable sets, asked per node
])
def test_boolean_answers(truthy, falsy):
    cls = schema(EXCLUDE, v=f.List(f.Bool(truthy=truthy, falsy=falsy)))
    check_loads(cls, '{"v": [false, false]}', exact=True)
    check_loads(cls, '{"v": [false, true, true]}')
    if any(isinstance(t, Truthy) for t in truthy):
        Truthy.calls = 0
        cls.plans()[1].run_json('{"v": [false, true, true]}', False, None)
        assert Truthy.calls == 2  # once per true node, as json.loads and run would


@pytest.mark.parametrize("doc", [
    {"a": None, "c": 1},
    {"c": None, "b": None, "a": 2},
    {},
])
def test_null_and_none_defaults_in_a_wide_record(doc):
    cls = schema(EXCLUDE, a=f.Int(allow_none=True), b=f.Int(allow_none=True, load_default=None),
                 c=f.Int(allow_none=True, load_default=7), d=f.Str(load_default=None),
                 e=f.Int(allow_none=True), g=f.Int(allow_none=True), h=f.Int(allow_none=True))
    check_loads(cls, json.dumps([doc, doc]), many=True, exact=True)

"""Every accelerated call against the host's pure path on random schemas of every field
kind, option, validator and policy, with valid, junk and hostile inputs and partial
selections (CORVANE_DIFF_EXAMPLES sets the example count); every kind on edge values."""

import os

import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

from corvane_core import Schema
from corvane_core import fields as f
from corvane_core import validate as v
from tests.support.parity import check_dump, check_load, schema
from tests.support.strategies import (EDGE_VALUES, Color, Desc, Gen, dump_case, load_case, materialise,
                                      schema_case)

EXAMPLES = int(os.environ.get("CORVANE_DIFF_EXAMPLES", "40"))
diff_settings = settings(
    max_examples=EXAMPLES, deadline=None, derandomize="CORVANE_DIFF_EXAMPLES" not in os.environ,
    suppress_health_check=[HealthCheck.too_slow, HealthCheck.data_too_large, HealthCheck.filter_too_much],
)


test_dump_agrees = diff_settings(given(st.data())(dump_case))
test_load_agrees = diff_settings(given(st.data())(load_case))


@settings(max_examples=max(10, EXAMPLES // 4), deadline=None,
          suppress_health_check=[HealthCheck.too_slow, HealthCheck.data_too_large])
@given(st.data())
def test_ordinary_valid_data_never_falls_back(data):
    # str, int, float, bool, nested and lists, all valid: the fast path must take them.
    shape = data.draw(schema_case(ordinary_only=True))
    objs = data.draw(st.lists(shape.record(valid=True), min_size=1, max_size=3))
    docs = data.draw(st.lists(shape.document(valid=True), min_size=1, max_size=3))
    check_dump(shape.cls, lambda: [materialise(o) for o in objs], True, fast=True)
    check_load(shape.cls, docs, True, fast=True)


class _Inner(Schema):
    a = f.Int(required=True)
    b = f.Str()


EDGE_FIELDS = [
    f.Str(), f.Str(validate=v.Length(1, 2)), f.Int(), f.Int(strict=True), f.Int(validate=v.Range(0, 10)),
    f.Int(as_string=True), f.Float(), f.Float(allow_nan=True), f.Float(as_string=True, validate=v.OneOf([2.5, 3])),
    f.Bool(), f.Uuid(), f.IP(), f.DateTime(), f.DateTime("timestamp"), f.Date(), f.Date("%d/%m/%Y"), f.Time(),
    f.Enum(Color), f.Enum(Color, by_value=True), f.Enum(Color, by_value=f.Int()), f.Raw(validate=v.NoneOf([0, "x"])),
    f.Raw(validate=v.ContainsOnly([1, "a"])), f.Constant(1), f.List(f.Int()), f.List(f.Str(allow_none=True)),
    f.Tuple([f.Int(), f.Str()]), f.Dict(), f.Dict(keys=f.Int(), values=f.Float()), f.Nested(_Inner),
    f.Nested(_Inner, many=True), f.Float(validate=v.Range(0, 10, min_inclusive=False, max_inclusive=False)),
    f.Str(validate=v.OneOf("ab")), f.Pluck(_Inner, "a"), f.Pluck(_Inner, "a", many=True),
    f.Int(allow_none=True, validate=v.Equal(3)), f.Raw(validate=lambda x: x != 3), f.Raw(attribute="o.x"),
]


@pytest.mark.parametrize("field", EDGE_FIELDS, ids=repr)
def test_single_field_edges(field):
    cls = schema(x=field)
    for value in EDGE_VALUES + [Gen([1, "a"])]:
        check_dump(cls, lambda: {"x": materialise(value), "o": materialise(value)})
        check_load(cls, lambda: {"x": materialise(value)}, exact=not isinstance(value, Desc))

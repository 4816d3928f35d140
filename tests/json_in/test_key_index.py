"""Key matching decided with the plan: order hints across many nested schemas, and
known-key answers for fields whose key is left out of known_keys."""

import json

import pytest

from corvane_core import AccelFallback
from tests.support.parity import L, lfield, lpayload, lplan, same

INT, TEXT = (L.INT,), (L.TEXT,)


def fused(plan, text, many=False):
    """run_json's result, which must equal run(json.loads(text)), or None on fallback."""
    try:
        got = plan.run_json(text, many, None)
    except AccelFallback:
        return None
    assert same(got, plan.run(json.loads(text), many, None)), text
    return got


def test_many_nested_schemas_keep_their_matches():
    # More nested schemas than the per-call hint table holds, each record listing its
    # keys in an order of its own, so stale or evicted hints would pick wrong fields.
    inner = [lpayload(lfield(f"a{i}", INT), lfield(f"b{i}", TEXT), lfield("c", INT)) for i in range(80)]
    outer = lplan(*(lfield(f"n{i}", (L.NESTED, p)) for i, p in enumerate(inner)), many=True)
    records = []
    for r in range(3):
        rec = {}
        for i in range(80):
            pairs = [(f"a{i}", i + r), (f"b{i}", f"s{r}"), ("c", -i)]
            rec[f"n{i}"] = dict(pairs[(i + r) % 3:] + pairs[:(i + r) % 3])
        records.append(rec)
    got = fused(outer, json.dumps(records), True)
    assert got is not None and got[2]["n79"] == {"a79": 81, "b79": "s2", "c": -79}


@pytest.mark.parametrize("unknown, doc, loads", [
    ("include", '{"id": 1, "hidden": 2, "other": 3}', True),
    ("include", '{"id": 1, "hidden": [2]}', False),  # one value read twice must not be two objects
    ("raise", '{"id": 1, "hidden": 2}', False),
    ("raise", '{"id": 1}', True),
    ("exclude", '{"id": 1, "hidden": 2, "other": 3}', True),
])
def test_field_key_outside_known_keys(unknown, doc, loads):
    plan = lplan(lfield("id", INT), lfield("hidden"), unknown=unknown, known=frozenset({"id"}))
    assert (fused(plan, doc) is not None) == loads

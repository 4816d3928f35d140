"""Key matching decided with the plan: order hints across many nested schemas, and
known-key answers for fields whose key is left out of known_keys."""

import json

import pytest

from tests.support.json_in_plans import FELL_BACK, deserializer, run_both
from tests.support.load_payloads import IGNORE, INT, KEEP, REJECT, TEXT, direct, nested, plan


def test_many_nested_schemas_keep_their_matches():
    # More nested schemas than the per-call hint table holds, each record listing its
    # keys in an order of its own, so stale or evicted hints would pick wrong fields.
    inner = [plan(direct(f"a{i}", INT), direct(f"b{i}", TEXT), direct("c", INT)) for i in range(80)]
    outer = deserializer(plan(*(direct(f"n{i}", nested(p)) for i, p in enumerate(inner)), many=True))
    records = []
    for r in range(3):
        rec = {}
        for i in range(80):
            pairs = [(f"a{i}", i + r), (f"b{i}", f"s{r}"), ("c", -i)]
            rec[f"n{i}"] = dict(pairs[(i + r) % 3:] + pairs[:(i + r) % 3])
        records.append(rec)
    got = run_both(outer, json.dumps(records), True)
    assert got is not FELL_BACK and got[2]["n79"] == {"a79": 81, "b79": "s2", "c": -79}


@pytest.mark.parametrize("extra, doc, loads", [
    (KEEP, '{"id": 1, "hidden": 2, "other": 3}', True),
    (KEEP, '{"id": 1, "hidden": [2]}', False),  # one value read twice must not be two objects
    (REJECT, '{"id": 1, "hidden": 2}', False),
    (REJECT, '{"id": 1}', True),
    (IGNORE, '{"id": 1, "hidden": 2, "other": 3}', True),
])
def test_field_key_outside_known_keys(extra, doc, loads):
    d = deserializer(plan(direct("id", INT), direct("hidden"), extra=extra, known=frozenset({"id"})))
    assert (run_both(d, doc) is not FELL_BACK) == loads

"""Fallback rate of the four host calls on valid, ordinary data (str, int, float, bool,
nested schemas, lists), over randomly generated schemas.

    PYTHONPATH=python python3 -m tests.support.host_fallback_rate [schemas]
"""

import sys

from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

from corvane_core import AccelStats
from tests.support.parity import check_dump, check_load
from tests.support.strategies import materialise, schema_case


def measure(schemas=300):
    totals = AccelStats()

    @settings(max_examples=schemas, deadline=None, database=None, suppress_health_check=list(HealthCheck))
    @given(st.data())
    def run(data):
        shape = data.draw(schema_case(ordinary_only=True))
        objs = [materialise(d) for d in data.draw(st.lists(shape.record(valid=True), min_size=1, max_size=5))]
        docs = data.draw(st.lists(shape.document(valid=True), min_size=1, max_size=5))
        for outcome, op in zip(check_dump(shape.cls, objs, True) + check_load(shape.cls, docs, True),
                               ["dump", "dumps", "load", "loads", "loads"]):
            totals.calls[op] += 1
            totals.fallbacks[op] += outcome.kind == "fallback"

    run()
    return totals


if __name__ == "__main__":
    stats = measure(int(sys.argv[1]) if len(sys.argv) > 1 else 300)
    for op in AccelStats.OPERATIONS:
        print(f"{op:6} {stats.fallbacks[op]:6} fallbacks in {stats.calls[op]:7} calls")
    print(f"overall fallback rate {stats.fallback_rate:.4%}")

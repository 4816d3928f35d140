"""Dump payload decoding: drawn schemas' payloads with wrong shapes mixed in. Building
either makes a plan or raises a decoding error, never AccelFallback; a plan that was
built then runs on a drawn object without crashing."""

import kit
from hypothesis import given, strategies as st

from corvane_core import DumpSerializer
from tests.support.strategies import materialise, schema_case


@kit.FUZZ_SETTINGS
@given(schema_case(), st.data())
def check(shape, data):
    payload = data.draw(kit.corrupted(st, shape.cls.dump_payload()))
    plan = kit.build(DumpSerializer, payload)
    if plan is None:
        return
    desc = data.draw(shape.record())
    for many in (False, True):
        for run in (plan.run, plan.run_json):
            try:
                run([materialise(desc)] if many else materialise(desc), many)
            except BaseException:
                pass


TestOneInput = kit.entry(check)

if __name__ == "__main__":
    kit.main(TestOneInput)

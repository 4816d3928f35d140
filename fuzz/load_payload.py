"""Load payload decoding, validator entries included: building makes a plan or raises a
decoding error, never AccelFallback; a plan that was built then loads a drawn document,
as data and as JSON text, without crashing."""

import json

import kit
from hypothesis import given, strategies as st

from corvane_core import LoadDeserializer
from tests.support.strategies import materialise, partial_args, schema_case


@kit.FUZZ_SETTINGS
@given(schema_case(), st.data())
def check(shape, data):
    payload = data.draw(kit.corrupted(st, shape.cls.load_payload(data.draw(st.sampled_from(["raise", "include"])))))
    plan = kit.build(LoadDeserializer, payload)
    if plan is None:
        return
    doc, partial = materialise(data.draw(shape.document())), data.draw(partial_args(shape))
    for call in (lambda: plan.run(doc, False, partial), lambda: plan.run([doc], True, partial),
                 lambda: plan.run_json(json.dumps(doc), False, partial)):
        try:
            call()
        except BaseException:
            pass


TestOneInput = kit.entry(check)

if __name__ == "__main__":
    kit.main(TestOneInput)

"""Load payload decoding, validator entries included: construction builds a plan or
raises a decoding error; a built plan then loads a few inputs without crashing."""

import kit
from corvane_core._core import AccelFallback, LoadDeserializer
from plans import Draw, load_plan

DECODING_ERRORS = (TypeError, ValueError, IndexError, OverflowError, RecursionError)
INPUTS = [{}, {"a": 1, "b": [1, None], "c": {"a": "x"}, "id": "7", "x": 2}, [{"a": None}]]
TEXTS = ["{}", '{"a": 1, "b": [1, null], "c": {"a": "x"}, "id": "7", "x": 2}', '[{"a": null}]']


def TestOneInput(data):
    d = Draw(kit.provider(data), corrupt=0.08)
    payload = load_plan(d, 3)
    try:
        plan = LoadDeserializer(payload, kit.MISSING)
    except AccelFallback:
        raise AssertionError("construction raised AccelFallback")
    except DECODING_ERRORS:
        return
    for value, text in zip(INPUTS, TEXTS):
        for many in (False, True):
            for partial in (None, True, ("a.b",)):
                for call in (lambda: plan.run(value, many, partial), lambda: plan.run_json(text, many, partial)):
                    try:
                        call()
                    except BaseException:
                        pass


if __name__ == "__main__":
    kit.main(TestOneInput)

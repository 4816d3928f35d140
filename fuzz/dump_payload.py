"""Dump payload decoding: mostly well-formed payloads with wrong shapes mixed in.
Construction either builds a plan or raises one of the decoding errors; a plan that
was built then runs on a few objects without crashing."""


import kit
from corvane_core._core import AccelFallback, DumpSerializer
from plans import Draw, dump_schema

DECODING_ERRORS = (TypeError, ValueError, IndexError, OverflowError, RecursionError)
OBJECTS = [None, {}, {"a": 1, "b": [1, "x"], "c": {"id": 2}, "id": 3, "name": b"n"}]


def TestOneInput(data):
    d = Draw(kit.provider(data), corrupt=0.08)
    payload = dump_schema(d, 3)
    try:
        plan = DumpSerializer(payload, kit.MISSING)
    except AccelFallback:
        raise AssertionError("construction raised AccelFallback")
    except DECODING_ERRORS:
        return
    for obj in OBJECTS:
        for many in (False, True):
            for run in (plan.run, plan.run_json):
                try:
                    run(obj, many)
                except BaseException:
                    pass


if __name__ == "__main__":
    kit.main(TestOneInput)

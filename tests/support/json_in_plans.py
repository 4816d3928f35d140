"""The oracle the JSON-input tests hold run_json to: it either raises AccelFallback or
equals run(json.loads(text)), types, NaN, -0.0 and key order included."""

import json
import math

from corvane_core._core import AccelFallback, LoadDeserializer

from tests.support.load_payloads import MISSING


def deserializer(payload):
    return LoadDeserializer(payload, MISSING)


def same(a, b):
    """Equality that also tells apart types, NaN, -0.0 and key order."""
    if type(a) is not type(b):
        return False
    if isinstance(a, float):
        return a == b and math.copysign(1, a) == math.copysign(1, b) or (math.isnan(a) and math.isnan(b))
    if isinstance(a, (list, tuple)):
        return len(a) == len(b) and all(same(x, y) for x, y in zip(a, b))
    if isinstance(a, dict):
        return list(a) == list(b) and all(same(a[k], b[k]) for k in a)
    return a == b


FELL_BACK = object()


def run_both(d, data, many=False, partial=None):
    """The fused result, or FELL_BACK. When the fused load succeeds the ordinary load
    of json.loads(data) must succeed too, with the same value."""
    try:
        got = d.run_json(data, many, partial)
    except AccelFallback:
        return FELL_BACK
    expected = d.run(json.loads(data), many, partial)
    assert same(got, expected), f"{data!r}: run_json gave {got!r}, run(json.loads) gave {expected!r}"
    return got

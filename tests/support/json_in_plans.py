"""Load plans for the JSON-input tests, and the oracle they are held to:
``run_json(text)`` either raises ``AccelFallback`` or equals ``run(json.loads(text))``."""

import json
import math

from corvane_core._core import AccelFallback, LoadDeserializer

from tests.conftest import MISSING

REJECT, IGNORE, KEEP = 0, 1, 2

PASS, TEXT, INT, DICT_COPY, STRICT_INT = (0,), (1,), (2,), (10,), (13,)


def float_(allow_non_finite=False):
    return (3, allow_non_finite)


def nested(plan_payload):
    return (4, plan_payload)


def list_of(child, items_nullable=False):
    return (5, child, items_nullable)


def call_field(fn):
    return (9, fn)


def constant(value):
    return (11, value)


def bool_set(true_values, false_values):
    return (12, true_values, false_values)


def dict_of(key=None, value=None, key_validators=(), value_validators=()):
    return (14, key, list(key_validators), value, list(value_validators))


def tuple_of(*items):
    return (15, tuple(items))


def nested_key(plan_payload, key, many=False):
    return (16, plan_payload, key, many)


def field(key, element=PASS, *, attribute=None, name=None, default=MISSING, required=False, nullable=False,
          validators=()):
    return (False, key, attribute if attribute is not None else key, name if name is not None else key, default,
            required, nullable, element, list(validators))


def delegate(key, host_field):
    return (True, key, key, key, host_field)


def plan(*fields, many=False, extra=IGNORE, known=None):
    if known is None:
        known = frozenset(f[1] for f in fields)
    return (many, extra, known, list(fields))


def loader(payload):
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

"""Number text through run_json, byte for byte json.dumps (and so repr), and str() of
exact floats dumped as text."""

import array
import json
import math
import os
import random

import pytest

from corvane_core import fields as f
from tests.support.parity import schema


def plan(element):
    return schema(v=element).plans()[0]


FLOATS = plan(f.List(f.Float()))


def same_as_dumps(values):
    assert FLOATS.run_json({"v": values}, False) == json.dumps({"v": values})


def signed(values):
    return [s * x for x in values for s in (1, -1)]


def around(x, steps=3):
    out = [x]
    up = down = x
    for _ in range(steps):
        up, down = math.nextafter(up, math.inf), math.nextafter(down, -math.inf)
        out += [up, down]
    return out


def test_hard_cases():
    tiny = 5e-324
    cases = [0.0, tiny, 2 * tiny, 3 * tiny, 12 * tiny, 2.2250738585072014e-308, 1.7976931348623157e308]
    cases += [c * tiny for c in range(1, 3000)] + [(2**52 - c) * tiny for c in range(1, 100)]
    cases += around(2.2250738585072014e-308) + around(1.7976931348623157e308)
    cases += [math.ldexp(1.0, e) for e in range(-1074, 1024)]
    cases += [x for e in range(-323, 309) for x in around(float(f"1e{e}"), 1)]
    for edge in (1e-5, 1e-4, 1e15, 1e16, 9.999999999999999e-5, 9.999999999999998e15):
        cases += around(edge, 20)
    cases += [float(2**53 + i) for i in range(-300, 300)]
    cases += [float(2**54 + 2 * i) for i in range(300)] + [float(2**e + 2 ** (e - 52)) for e in range(54, 1023)]
    cases += [0.30000000000000004, 2.0000000000000004, 21985694762540.0625, 123456789012345.67]
    same_as_dumps(signed(cases))


def random_doubles(n, seed):
    rng = random.Random(seed)
    return list(array.array("d", rng.randbytes(8 * n)))


def test_random_bit_patterns():
    # A million, sign bits included; CORVANE_FLOAT_CHECK=N checks N for the long run.
    count = int(os.environ.get("CORVANE_FLOAT_CHECK", 1_000_000))
    for seed, start in enumerate(range(0, count, 250_000)):
        same_as_dumps(random_doubles(min(250_000, count - start), seed))


def test_few_digits_at_every_scale():
    rng = random.Random(7)
    same_as_dumps(signed(rng.randint(1, 99999) * 10.0**e for e in range(-320, 305) for _ in range(40)))


@pytest.mark.parametrize("element", [f.Float(as_string=True), f.Str(), f.Uuid()])
def test_float_dumped_as_text_is_str(element):
    values = [0.1, -0.0, 1e16, 1e-5, 5e-324, math.inf, math.nan] + random_doubles(2000, 9)
    dumper = plan(f.List(element))
    assert dumper.run({"v": values}, False)["v"] == [str(x) for x in values]
    assert dumper.run_json({"v": values}, False) == json.dumps({"v": [str(x) for x in values]})


def test_ints_at_every_digit_count():
    values = [x + d for k in range(20) for x in (10**k, 2 ** (3 * k)) for d in (-1, 0, 1)] + [2**64 - 1]
    values = [v for v in values if v < 2**64] + [-v for v in values if v <= 2**63]
    ints = plan(f.List(f.Int()))
    assert ints.run_json({"v": values}, False) == json.dumps({"v": values})

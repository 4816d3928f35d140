"""Floats read from JSON text carry exactly the bits float() gives the same literal: on
the conformance corpus, the real documents, the hard cases and random literals. A
fallback is sound, and allowed only where the fast conversion cannot decide (a literal
cut just at a rounding tie).

CORVANE_NUMBER_CHECKS sets how many random literals to try (a few million takes
minutes; the default keeps the suite quick)."""

import os
import random
import re
import struct
from decimal import Decimal, localcontext

import pytest
from corvane_core._core import AccelFallback

from tests.support.parity import lfield, lplan, shared_dir

VALUE = lplan(lfield("v"))
LITERAL = re.compile(rb"(?<![\w.+-])-?(?:0|[1-9]\d{0,17})(?:\.\d+)?(?:[eE][+-]?\d+)?(?![\w.+-])")
DOUBLE, WORD = struct.Struct("<d"), struct.Struct("<Q")


def check(texts, may_fall_back=False):
    """Loads the literals as one array and compares bits; on a fallback, one by one."""
    try:
        got = VALUE.run_json('{"v": [' + ",".join(texts) + "]}", False, None)["v"]
    except AccelFallback:
        assert may_fall_back, "a literal fell back"
        got = []
        for t in texts:
            try:
                got.append(VALUE.run_json('{"v": ' + t + "}", False, None)["v"])
            except AccelFallback:
                got.append(float(t))
    wrong = [(t, g) for t, g in zip(texts, got) if DOUBLE.pack(g) != DOUBLE.pack(float(t))]
    assert not wrong, wrong[:5]


def halfway(bits, nudge=""):
    """The exact decimal midway between the double of `bits` and the next one up."""
    lo, hi = (DOUBLE.unpack(WORD.pack(b))[0] for b in (bits, bits + 1))
    with localcontext() as ctx:
        ctx.prec = 800
        digits, exp = format((Decimal(lo) + Decimal(hi)) / 2, "e").split("e")
    return digits + nudge + "e" + exp


def floats_in(raw):
    return [t.decode() for t in LITERAL.findall(raw) if re.search(rb"[.eE]", t)]


@pytest.mark.parametrize("where", ["corpus", "realworld"])
def test_every_float_of_the_shared_documents(where):
    folder = (shared_dir("CORVANE_JSONTESTSUITE", "jsontestsuite", "test_parsing")
              if where == "corpus" else shared_dir("CORVANE_REALWORLD", "realworld", "canada.json"))
    folder = folder / "test_parsing" if folder and where == "corpus" else folder
    if folder is None:
        pytest.skip(f"{where} documents not found beside the checkout")
    texts = [t for p in sorted(folder.glob("*.json")) for t in floats_in(p.read_bytes())]
    assert len(texts) > (20 if where == "corpus" else 100_000)
    check(texts, may_fall_back=where == "corpus")


TIES = [  # binary ties and their neighbours, decided by the exact products
    "9007199254740993.0", "9007199254740995.0", "9007199254740993.0000000000000001", "9.007199254740993e25",
    "9.007199254740995e40", "4503599627370496.5", "4503599627370497.5", "1.8014398509481985e16",
    "1.0000000000000001110223024625156540423631668090820312e0", "7.3177701707893310e15", "1e23",
    "8.98846567431158e307", "9.999999999999999e22", "1.00000000000000011102230246251565404236316680908203125",
]
EDGES = [  # the least subnormal, the subnormal/normal border, the largest double, and past them
    "4.9406564584124654e-324", "2.4703282292062328e-324", "2.4703282292062327e-324", "4.94e-324", "5e-324",
    "2.2250738585072011e-308", "2.2250738585072012e-308", "2.2250738585072014e-308", "2.225073858507201e-308",
    "1.7976931348623157e308", "1.7976931348623158e308", "1.7976931348623159e308", "1.8e308", "1e309",
    "1e-325", "1e-342", "1e-343", "123456789012345678e-360", "0.000001e-318", "1e308", "1e-400", "0.0e5",
    "0." + "0" * 330 + "49406564584124654", "1" + "0" * 17 + "." + "0" * 400 + "1e290",
]


def test_hard_cases():
    check(TIES + EDGES + ["-" + t for t in TIES + EDGES])
    points = [0, 1, 2**52 - 1, 2**52, 2**52 + 1, 0x7FEFFFFFFFFFFFFE, 0x3FF0000000000000, 0x4340000000000000]
    check([halfway(b, n) for b in points for n in ("", "1", "0" * 30 + "1")], may_fall_back=True)


def random_literals(rng, n):
    out = []
    while len(out) < n:
        bits, kind = rng.getrandbits(63), rng.randrange(4)
        x = DOUBLE.unpack(WORD.pack(bits))[0]
        if kind == 0 and x < float("inf"):
            out.append(repr(x))  # shortest: 17 digits or fewer
        elif kind == 1 and bits < 0x7FEFFFFFFFFFFFFF:
            cut = rng.choice(["", str(rng.randrange(10**rng.randrange(1, 30)))])
            digits, exp = halfway(bits).split("e")
            out.append(digits[: rng.randrange(18, 45)] + cut + "e" + exp)
        elif kind == 2:
            digits = str(rng.randrange(10**16, 10**rng.randrange(17, 40)))
            out.append(digits[0] + "." + digits[1:] + "e" + str(rng.randrange(-345, 312)))
        elif kind == 3:
            out.append(f"{rng.randrange(10**18)}.{rng.randrange(10**rng.randrange(1, 9))}e{rng.randrange(-345, 320)}")
    return out


def test_random_literals():
    rng = random.Random(15)
    todo = int(os.environ.get("CORVANE_NUMBER_CHECKS", "20000"))
    while todo > 0:
        check(random_literals(rng, min(todo, 10_000)), may_fall_back=True)
        todo -= 10_000

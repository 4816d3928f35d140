"""What the harnesses share: the checkout on the path, for the strategies and the parity
harness of the tests (the one oracle: the host's pure path), and the engine entry.

Harnesses that draw their case with hypothesis hand the engine's bytes to hypothesis
as its choices, so the fuzzing engine steers the same strategies the tests use."""

import os
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
if ROOT not in sys.path:
    sys.path.append(ROOT)  # after the package dir the runner put first

from hypothesis import HealthCheck, settings  # noqa: E402

from corvane_core import MISSING, AccelFallback  # noqa: E402

FUZZ_SETTINGS = settings(database=None, deadline=None, suppress_health_check=list(HealthCheck))
DECODING_ERRORS = (TypeError, ValueError, IndexError, OverflowError, RecursionError, UnicodeEncodeError)


def build(plan_class, payload):
    """The plan, or None when the payload is refused; construction never falls back."""
    try:
        return plan_class(payload, MISSING)
    except AccelFallback:
        raise AssertionError("construction raised AccelFallback") from None
    except DECODING_ERRORS:
        return None


def entry(test):
    """The one-input function of a harness: bytes in, an exception on a fault."""
    return test.hypothesis.fuzz_one_input if hasattr(test, "hypothesis") else test


def main(test):
    import atheris

    atheris.Setup(sys.argv, entry(test))
    atheris.Fuzz()


WRONG = [None, 0, -1, 256, 2**70, "x", "a.\ud800", b"x", (), [], (99,), (1, 1), 1.5, True, frozenset()]


def corrupted(st, payload):
    """A strategy of ``payload`` with wrong shapes here and there: an item dropped, a
    tuple made a list or the other way round, a value of the wrong type."""
    @st.composite
    def build(draw):
        def walk(node):
            roll = draw(st.integers(0, 40))
            if roll == 0:
                return draw(st.sampled_from(WRONG))
            if type(node) not in (tuple, list):
                return node
            items = [walk(x) for x in node]
            if roll == 1 and items:
                items.pop()
            kind = (list if type(node) is tuple else tuple) if roll == 2 else type(node)
            return kind(items)
        return walk(payload)
    return build()


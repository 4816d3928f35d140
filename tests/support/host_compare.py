"""Running one call on both paths and comparing what came out."""

import math

from corvane_core import AccelFallback, ValidationError


class Outcome:
    """What a call did: returned a value, fell back, reported invalid input, or raised."""

    def __init__(self, fn):
        self.value = self.error = None
        try:
            self.value = fn()
            self.kind = "ok"
        except AccelFallback:
            self.kind = "fallback"
        except ValidationError as exc:
            self.kind, self.error = "invalid", exc
        except RecursionError as exc:
            self.kind, self.error = "error", exc
        except Exception as exc:
            self.kind, self.error = "error", exc

    def __repr__(self):
        detail = self.value if self.kind == "ok" else self.error
        return f"<{self.kind}: {detail!r}>"


def same(a, b):
    """Equal values of exactly equal types, dict order included; NaN equals NaN and
    the sign of a zero counts."""
    if type(a) is not type(b):
        return False
    if type(a) is float:
        return repr(a) == repr(b)
    if isinstance(a, dict):
        return list(a) == list(b) and all(same(a[k], b[k]) for k in a)
    if isinstance(a, (list, tuple)):
        return len(a) == len(b) and all(same(x, y) for x, y in zip(a, b))
    return a == b


def agree(accel, pure):
    """The accelerated outcome matches the pure one, or it fell back."""
    if accel.kind == "fallback":
        return True
    if accel.kind == "ok":
        return pure.kind == "ok" and same(accel.value, pure.value)
    # An error the plan passes through must be the one the pure path raises.
    return pure.kind == "error" and type(accel.error) is type(pure.error)


def assert_agree(accel, pure, what):
    assert agree(accel, pure), f"{what}: accelerated {accel!r} but pure {pure!r}"

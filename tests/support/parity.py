"""The one harness: each call runs on the accelerated plan and on the host's pure path
(``corvane_core._pure``), which must agree or the plan must fall back; the host's own
call (plan first, pure path on fallback) must give exactly what the pure path gives.
Payload builders for the plan-level tests use the host's own tags."""

import datetime
import decimal
import enum
import ipaddress
import json
import os
import pathlib
import re
import reprlib
import uuid

from corvane_core import MISSING, AccelFallback, DumpSerializer, LoadDeserializer, Schema, ValidationError, _pure
from corvane_core._payload import POLICIES, RAISE, DumpTag as D, LoadTag as L  # noqa: F401
from corvane_core.schema import SchemaMeta

ROOT = pathlib.Path(__file__).resolve().parents[2]


def shared_dir(env, name, marker):
    """A shared data directory from ``env`` or beside the checkout, or None."""
    for c in filter(None, [os.environ.get(env), ROOT.parent / "shared" / name]):
        if (pathlib.Path(c) / marker).exists():
            return pathlib.Path(c)
    return None


def schema(unknown=RAISE, **fields):
    fields["Meta"] = type("Meta", (), {"unknown": unknown})
    return SchemaMeta("S", (Schema,), fields)


# -- plan payloads, for what a schema cannot express -----------------------------------------

def dfield(key, element=(D.PASSTHROUGH,), *, attr=None, default=MISSING):
    return (False, key, key if attr is None else attr, default, element)


def dplan(*fields, arg=None, missing=MISSING):
    return DumpSerializer((arg, list(fields)), missing)


def lfield(key, element=(L.PASSTHROUGH,), *, attr=None, name=None, default=MISSING, required=False,
           nullable=False, validators=()):
    return (False, key, attr or key, name or key, default, required, nullable, element, list(validators))


def lpayload(*fields, unknown="exclude", known=None, many=False):
    keys = frozenset(f[1] for f in fields) if known is None else known
    return (many, POLICIES.get(unknown, unknown), keys, list(fields))


def lplan(*fields, **kw):
    return LoadDeserializer(lpayload(*fields, **kw), MISSING)


# -- outcomes -------------------------------------------------------------------------------

INTERRUPTS = [0]


def raiser(exc):
    def fn(*_):
        raise exc
    return fn


def interrupt(*_):
    """Host code's KeyboardInterrupt, counted so that one swallowed by a call shows."""
    INTERRUPTS[0] += 1
    raise KeyboardInterrupt


class Outcome:
    """What a call did: "ok", "fallback", "invalid" (a ValidationError) or "error"; and
    whether host code raised an interrupt during it."""

    def __init__(self, fn):
        self.value = self.error = None
        before = INTERRUPTS[0]
        try:
            self.value, self.kind = fn(), "ok"
        except AccelFallback:
            self.kind = "fallback"
        except ValidationError as exc:
            self.kind, self.error = "invalid", exc
        except BaseException as exc:  # KeyboardInterrupt from host code is an outcome too
            self.kind, self.error = "error", exc
        self.interrupted = INTERRUPTS[0] != before

    def __repr__(self):
        return f"<{self.kind}: {self.value if self.kind == 'ok' else self.error!r}>"


_PLAIN = (int, str, bytes, bool, type(None), decimal.Decimal, datetime.date, datetime.time, uuid.UUID,
          ipaddress.IPv4Address, ipaddress.IPv6Address, set, frozenset, enum.Enum)
_ADDRESS = re.compile(r" at 0x[0-9a-f]+")


def same(a, b, depth=0):
    """Equal values of exactly equal types, dict order included, without running the
    values' own hooks: NaN equals NaN, the sign of zero counts, other host objects
    compare by their attributes."""
    if a is b or depth > 300:  # compared that far down, deeper values count as equal
        return True
    t = type(a)
    if t is not type(b):
        return False
    if t is float:
        return repr(a) == repr(b)
    if t is str:  # str() of host objects names their addresses
        return _ADDRESS.sub("", a) == _ADDRESS.sub("", b)
    if isinstance(a, dict):
        ia, ib = list(dict.items(a)), list(dict.items(b))
        return len(ia) == len(ib) and all(same(x, y, depth + 1) and same(u, v, depth + 1)
                                          for (x, u), (y, v) in zip(ia, ib))
    if isinstance(a, (list, tuple)):
        it = list.__iter__ if isinstance(a, list) else tuple.__iter__
        return len(a) == len(b) and all(same(x, y, depth + 1) for x, y in zip(it(a), it(b)))
    if isinstance(a, _PLAIN) and type(t.__eq__) is not type(same):
        return a == b
    try:
        return same(object.__getattribute__(a, "__dict__"), object.__getattribute__(b, "__dict__"), depth + 1)
    except AttributeError:
        return True


def agree(accel, pure):
    """The plan's outcome stands for the pure one: the same value or error type, or a
    fallback, which never swallows an interrupt raised by host code during the call."""
    if accel.kind == "fallback":
        return not accel.interrupted
    if accel.kind == "ok":
        return pure.kind == "ok" and same(accel.value, pure.value)
    return pure.kind == accel.kind and type(accel.error) is type(pure.error)


def assert_agree(accel, pure, what):
    """``what`` is a callable naming the call, run only on failure."""
    assert agree(accel, pure), f"{what()}: accelerated {accel!r} but pure {pure!r}"


def assert_same(whole, pure, what):
    """A host call must give exactly what the pure path gives alone."""
    ok = whole.kind == pure.kind and {
        "ok": lambda: same(whole.value, pure.value), "fallback": lambda: True,
        "invalid": lambda: whole.error.errors == pure.error.errors,
        "error": lambda: type(whole.error) is type(pure.error),
    }[whole.kind]()
    assert ok, f"{what}: host call gave {whole!r} but the pure path {pure!r}"


def _fresh(value):
    make = value if callable(value) and not isinstance(value, type) else (lambda: value)
    make()  # a factory that cannot build its input would fail every path alike, and pass
    return make


def check_dump(cls, obj, many=False, *, fast=False, host=True):
    """``run`` and ``run_json`` of ``cls``'s plan against the pure dump and json.dumps of
    it; ``obj`` may be a factory, called afresh for each path. With ``fast`` the plan
    must not fall back; with ``host`` (no host code whose side effects a re-run after a
    fallback would repeat) the host's own call must match too."""
    make = _fresh(obj)
    plan, instance = cls.plans()[0], cls()
    pure = Outcome(lambda: _pure.dump(cls, make(), many))
    text = Outcome(lambda: json.dumps(pure.value)) if pure.kind == "ok" else pure
    out = []
    for call, ref, whole in ((plan.run, pure, instance.dump), (plan.run_json, text, instance.dumps)):
        accel = Outcome(lambda: call(make(), many))
        assert_agree(accel, ref, lambda: f"{call.__name__} of {reprlib.repr(make())}")
        assert not (fast and accel.kind == "fallback"), f"{call.__name__} of {make()!r} fell back"
        if host:
            assert_same(Outcome(lambda: whole(make(), many=many)), ref, f"host {call.__name__}")
        out.append(accel)
    return out


def check_load(cls, data, many=False, partial=None, *, fast=False, exact=True, host=True, unknown=None):
    """``run`` (and ``run_json`` on the JSON text, as str and bytes, when there is one)
    of ``cls``'s plan against the pure load. With ``exact`` (no one-shot input) ``run``
    falls back only where the pure path reports invalid input."""
    make = _fresh(data)
    plan = cls.plans(unknown)[1]
    policy = unknown or cls._unknown
    pure = Outcome(lambda: _pure.load(cls, make(), many, partial, policy))
    accel = Outcome(lambda: plan.run(make(), many, partial))
    assert_agree(accel, pure, lambda: f"run of {reprlib.repr(make())} partial={partial!r}")
    assert not (exact and accel.kind == "fallback" and pure.kind == "ok"), f"run of {make()!r}: needless fallback"
    if host:
        assert_same(Outcome(lambda: cls(unknown=unknown).load(make(), many=many, partial=partial)), pure, "host load")
    try:
        text = json.dumps(make())
    except BaseException:  # not JSON-able, or host code interrupts json.dumps itself
        return [accel]
    return [accel] + [check_loads(cls, doc, many, partial, fast=fast, unknown=unknown)
                      for doc in (text, text.encode())]


def check_loads(cls, text, many=False, partial=None, *, fast=False, exact=False, unknown=None):
    """``run_json`` of ``text`` against the pure load of json.loads(text). With ``exact``
    it falls back only where the pure path fails; with ``fast``, never."""
    ref = Outcome(lambda: _pure.load(cls, json.loads(text), many, partial, unknown or cls._unknown))
    accel = Outcome(lambda: cls.plans(unknown)[1].run_json(text, many, partial))
    assert_agree(accel, ref, lambda: f"run_json of {text!r} partial={partial!r}")
    assert not (accel.kind == "fallback" and (fast or exact and ref.kind == "ok")), f"{text!r} fell back"
    return accel

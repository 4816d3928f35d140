"""Pieces every harness shares: hostile host objects, outcomes of a call and their
comparison, and the sentinel the plans are built with.

Objects are built from a recipe for each path anew, so that a value that mutates its
container or a one-shot iterator does to the second path what it did to the first.
"""

import datetime
import decimal
import enum
import math
import os
import re
import sys
import types
import uuid

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
if ROOT not in sys.path:
    sys.path.append(ROOT)  # after the package dir the runner put first

from corvane_core._core import AccelFallback  # noqa: E402


class _Missing:
    def __repr__(self):
        return "<missing>"


MISSING = _Missing()


class Boom(Exception):
    """What hostile host code raises; it must reach the caller unchanged on dumps."""


class Fallback(Exception):
    """The reference interpreters' own word for falling back."""


class Color(enum.Enum):
    RED = 1
    GREEN = "green"


# -- hostile values ---------------------------------------------------------------------
#
# Each carries a token and compares by it through `same`, never through its own hooks.

class Token:
    def __init__(self, token, target=None):
        self.token = token
        self.target = target  # the container it may tamper with, set after building

    def __repr__(self):
        return f"<{type(self).__name__} {self.token}>"

    def __eq__(self, other):
        return type(other) is type(self) and other.token == self.token

    def __hash__(self):
        return hash(self.token)


class BadStr(Token):
    def __str__(self):
        raise Boom("str")


class WrongStr(Token):
    def __str__(self):
        return 5  # str() then raises TypeError


class InterruptStr(Token):
    def __str__(self):
        raise KeyboardInterrupt


class BadEq(Token):
    # Collides with the short keys, so dict lookups of those keys run __eq__.
    def __hash__(self):
        return hash(self.token)

    def __eq__(self, other):
        raise Boom("eq")


class BadHash(Token):
    def __hash__(self):
        raise Boom("hash")


class Clearing(Token):
    """Empties its container when it is converted, compared or hashed."""

    def _clear(self):
        t = self.target
        if t is None:
            return
        if isinstance(t, (dict, list)):
            t.clear()
        else:
            try:
                vars(t).clear()
            except TypeError:
                pass

    def __str__(self):
        self._clear()
        return "cleared"

    def __int__(self):
        self._clear()
        return 3

    def __float__(self):
        self._clear()
        return 3.5

    def __index__(self):
        self._clear()
        return 4

    def __len__(self):
        self._clear()
        return 2

    def __iter__(self):
        self._clear()
        return iter([1, 2])

    def __eq__(self, other):
        self._clear()
        return type(other) is type(self) and other.token == self.token

    def __hash__(self):
        return hash(self.token)


class Growing(Token):
    """Appends to (or adds a key to) its container when converted."""

    def __str__(self):
        t = self.target
        if isinstance(t, list) and len(t) < 64:
            t.append(len(t))
        elif isinstance(t, dict) and len(t) < 64:
            t[f"g{len(t)}"] = 1
        return "grown"


class IntLike(Token):
    def __index__(self):
        return 7

    def __int__(self):
        return 7

    def __float__(self):
        return 7.5


class Lying(list):
    """A list whose __len__ disagrees with its items."""

    def __len__(self):
        return super().__len__() + 1


class WriterHook(Boom):
    """Raised by a subclass's own items(), which only the JSON writer calls (as json.dumps
    does). The fused dump runs it at once, json.dumps after the whole dump, so when other
    host code fails too the two report different errors: known, and not counted."""


class SubDict(dict):
    def __getitem__(self, key):
        raise Boom("subdict getitem")  # never used by raw walks

    def get(self, *a):
        raise Boom("subdict get")

    def keys(self):
        raise Boom("subdict keys")

    def items(self):
        raise WriterHook("subdict items")


class SubList(list):
    pass


class SubTuple(tuple):
    pass


class SubStr(str):
    pass


class SubInt(int):
    pass


class SubFloat(float):
    pass


class SubBytes(bytes):
    pass


class Slots:
    """Attributes only."""

    def __init__(self, attrs):
        self.__dict__.update(attrs)


class Getitem:
    """Items first; `mode` picks what a miss raises."""

    def __init__(self, attrs, mode):
        self.__dict__["_items"] = dict(attrs)
        self.__dict__["_mode"] = mode

    def __getitem__(self, key):
        items = self.__dict__["_items"]
        if key in items:
            return items[key]
        raise self.__dict__["_mode"]()


class Getattr:
    """Attributes computed by __getattr__; misses raise `mode`."""

    def __init__(self, attrs, mode):
        self.__dict__["_attrs"] = dict(attrs)
        self.__dict__["_mode"] = mode

    def __getattr__(self, key):
        attrs = self.__dict__["_attrs"]
        if key in attrs:
            return attrs[key]
        raise self.__dict__["_mode"](key)


class GetitemProbeRaises:
    """Even the test for __getitem__ raises."""

    def __getattribute__(self, key):
        raise Boom("getattribute")


HOLDER_MODES = [KeyError, IndexError, TypeError, AttributeError, Boom, KeyboardInterrupt]


# (name, factory of a fresh value from a small number)
_LEAVES = [
    ("none", lambda n: None), ("true", lambda n: True), ("false", lambda n: False), ("zero", lambda n: 0),
    ("minus_one", lambda n: -1), ("int", lambda n: n), ("int64_over", lambda n: 2**63),
    ("int128", lambda n: -(2**127)), ("huge", lambda n: 2**200), ("subint", lambda n: SubInt(n)),
    ("float", lambda n: 1.5), ("neg_zero", lambda n: -0.0), ("nan", lambda n: math.nan),
    ("inf", lambda n: math.inf), ("big_float", lambda n: 1e16), ("subfloat", lambda n: SubFloat(2.5)),
    ("empty", lambda n: ""), ("a", lambda n: "a"), ("b", lambda n: "b"), ("digits", lambda n: "7"),
    ("float_text", lambda n: "1.5"), ("nan_text", lambda n: "nan"), ("wide", lambda n: "\u00e9\U0001f600"),
    ("surrogate", lambda n: "\ud800"), ("escapes", lambda n: "x\x00\"\\"), ("substr", lambda n: SubStr("s")),
    ("bytes", lambda n: b"abc"), ("bad_utf8", lambda n: b"\xff"), ("subbytes", lambda n: SubBytes(b"q")),
    ("bytearray", lambda n: bytearray(b"z")), ("bytes16", lambda n: b"0123456789abcdef"),
    ("red", lambda n: Color.RED), ("green", lambda n: Color.GREEN), ("red_name", lambda n: "RED"),
    ("uuid", lambda n: uuid.UUID(int=n)), ("uuid_text", lambda n: str(uuid.UUID(int=n))),
    ("date", lambda n: datetime.date(2020, 1, 1 + n % 28)), ("decimal", lambda n: decimal.Decimal("1.25")),
    ("token", lambda n: Token(n)), ("bad_str", lambda n: BadStr(n)), ("wrong_str", lambda n: WrongStr(n)),
    ("interrupt_str", lambda n: InterruptStr(n)), ("bad_eq", lambda n: BadEq("a")), ("bad_hash", lambda n: BadHash(n)),
    ("clearing", lambda n: Clearing(n)), ("growing", lambda n: Growing(n)), ("int_like", lambda n: IntLike(n)),
    ("set", lambda n: {1, 2}), ("frozenset", lambda n: frozenset(["a"])),
    ("namespace", lambda n: types.SimpleNamespace(name="RED", value=1)),
]
LEAVES = [f for _, f in _LEAVES]
LEAF = {name: i for i, (name, _) in enumerate(_LEAVES)}


# -- recipes: a value described once, built afresh for each path ----------------------------

class Recipe:
    __slots__ = ("kind", "items", "arg")

    def __init__(self, kind, items=(), arg=None):
        self.kind, self.items, self.arg = kind, items, arg

    def __repr__(self):
        return f"R({self.kind}, {self.items!r}, {self.arg!r})"


def leaf(which, n=0):
    index = LEAF[which] if isinstance(which, str) else which % len(LEAVES)
    return Recipe("leaf", (), (index, n))


def build(recipe):
    made = []
    out = _build(recipe, made)
    return out


def _build(r, made):
    if not isinstance(r, Recipe):
        return r
    k = r.kind
    if k == "leaf":
        index, n = r.arg
        return LEAVES[index](n)
    if k in ("list", "sublist", "tuple", "subtuple", "gen", "lying"):
        items = [_build(x, made) for x in r.items]
        if k == "list":
            out = items
        elif k == "sublist":
            out = SubList(items)
        elif k == "lying":
            out = Lying(items)
        elif k == "gen":
            return iter(items)
        else:
            return (tuple if k == "tuple" else SubTuple)(items)
        _aim(items, out)
        return out
    # mappings and holders: items are (key, recipe) pairs
    pairs = [(_build(key, made), _build(x, made)) for key, x in r.items]
    if k == "dict":
        out = {}
    elif k == "subdict":
        out = SubDict()
    else:
        out = None
    if out is not None:
        for key, x in pairs:
            try:
                dict.__setitem__(out, key, x)
            except Boom:
                pass
        _aim([x for _, x in pairs] + [key for key, _ in pairs], out)
        return out
    attrs = {key: x for key, x in pairs if type(key) is str}
    if k == "ns":
        out = types.SimpleNamespace(**attrs)
    elif k == "slots":
        out = Slots(attrs)
    elif k == "getitem":
        out = Getitem(attrs, HOLDER_MODES[r.arg % len(HOLDER_MODES)])
    elif k == "getattr":
        out = Getattr(attrs, HOLDER_MODES[r.arg % len(HOLDER_MODES)])
    else:
        return GetitemProbeRaises()
    _aim(list(attrs.values()), out)
    return out


def _aim(values, container):
    for v in values:
        if isinstance(v, (Clearing, Growing)) and v.target is None:
            v.target = container


_ADDRESS = re.compile(r" at 0x[0-9a-f]+")


# -- outcomes ---------------------------------------------------------------------------

class Outcome:
    """What one call did: returned, fell back, or raised (the type is what counts)."""

    __slots__ = ("kind", "value", "error")

    def __init__(self, fn):
        self.value = self.error = None
        try:
            self.value = fn()
            self.kind = "ok"
        except (AccelFallback, Fallback):
            self.kind = "fallback"
        except BaseException as exc:  # KeyboardInterrupt from host code included
            self.kind, self.error = "error", exc

    def __repr__(self):
        return f"<{self.kind}: {self.value if self.kind == 'ok' else self.error!r}>"


def same(a, b, depth=0):
    """Equal values of equal types, dict order included, without running any hook of
    the values themselves (tokens compare by token, floats by repr)."""
    if depth > 200:
        return a is b
    ta = type(a)
    if ta is not type(b):
        return False
    if isinstance(a, Token):
        return object.__getattribute__(a, "token") == object.__getattribute__(b, "token")
    if ta is float:
        return repr(a) == repr(b)
    if ta is str:
        # str() of host objects names their addresses
        return _ADDRESS.sub("", a) == _ADDRESS.sub("", b)
    if isinstance(a, dict):
        ia, ib = list(dict.items(a)), list(dict.items(b))
        return len(ia) == len(ib) and all(
            same(ka, kb, depth + 1) and same(va, vb, depth + 1) for (ka, va), (kb, vb) in zip(ia, ib))
    if isinstance(a, (list, tuple)):
        return len(a) == len(b) and all(same(x, y, depth + 1) for x, y in zip(list.__iter__(a) if isinstance(a, list) else a, b))
    if ta in (int, str, bytes, bool, bytearray, type(None), decimal.Decimal, datetime.date, uuid.UUID, set,
              frozenset, SubInt, SubStr, SubBytes) or isinstance(a, enum.Enum):
        try:
            return a == b
        except Exception:
            return False
    if ta is types.SimpleNamespace or ta in (Slots,):
        return same(vars(a), vars(b), depth + 1)
    return True  # other host objects: equal types is all that can be asked


def check(accel, ref, what, *, lenient_interrupt=False):
    """Fails unless both calls did the same thing."""
    if accel.kind == ref.kind == "ok":
        if same(accel.value, ref.value):
            return
    elif accel.kind == ref.kind == "fallback":
        return
    elif accel.kind == ref.kind == "error" and type(accel.error) is type(ref.error):
        return
    elif accel.kind == "fallback" and ref.kind == "error" and type(ref.error) is not KeyboardInterrupt:
        return  # the host's re-run raises it then
    elif (lenient_interrupt and accel.kind == "error" and type(accel.error) is KeyboardInterrupt
          and ref.kind == "fallback"):
        return  # a membership test that swallows nothing is the sounder choice
    raise AssertionError(f"{what}: accelerated {accel!r} but reference {ref!r}")


class SimpleProvider:
    """The few provider calls the harnesses make, for interpreters without the fuzzing
    engine (the regression tests replay drawn cases there; inputs decode differently
    from the engine's own provider, so saved corpora replay only under it)."""

    def __init__(self, data):
        self.data, self.pos = bytes(data), 0

    def _take(self, n):
        chunk = self.data[self.pos:self.pos + n]
        self.pos += len(chunk)
        return int.from_bytes(chunk, "little")

    def ConsumeIntInRange(self, lo, hi):
        span = hi - lo
        if span <= 0:
            return lo
        return lo + self._take((span.bit_length() + 7) // 8) % (span + 1)

    def ConsumeBool(self):
        return bool(self._take(1) & 1)

    def ConsumeProbability(self):
        return self._take(2) / 65535

    def remaining_bytes(self):
        return len(self.data) - self.pos


try:
    from atheris import FuzzedDataProvider as provider
except ImportError:
    provider = SimpleProvider


def main(test_one_input):
    """Runs a harness under the fuzzing engine with the command line's options."""
    import atheris

    atheris.Setup(sys.argv, test_one_input)
    atheris.Fuzz()

"""Plans and inputs drawn from fuzzer bytes.

`dump_schema`/`load_plan` draw payloads; with `corrupt` > 0 some positions get a value
of the wrong shape, so decoding errors are reached too. `dump_input`/`load_input` draw
recipes for objects and documents shaped after a payload, with junk and hostile values
mixed in.
"""

import ipaddress
import uuid

from kit import (
    LEAVES, MISSING, Boom, Clearing, Color, IntLike, Recipe, SubStr, SubTuple, leaf,
)

KEYS = ["a", "b", "c", "id", "", "\u00e9", "items", "name"]
ATTRS = KEYS + ["a.b", "b.a", "a..b", ".a", "a.", "c.id.a"]
PARTIAL_NAMES = ["a", "b", "c", "a.b", "b.a", "c.a", "a.", "zz", ""]


class Draw:
    """Small wrappers over the provider; all of them terminate on exhausted input."""

    def __init__(self, fdp, corrupt=0.0):
        self.f = fdp
        self.corrupt = corrupt

    def int(self, lo, hi):
        return self.f.ConsumeIntInRange(lo, hi)

    def bool(self):
        return self.f.ConsumeBool()

    def chance(self, p):
        return self.f.ConsumeProbability() < p

    def pick(self, seq):
        return seq[self.f.ConsumeIntInRange(0, len(seq) - 1)]

    def left(self):
        return self.f.remaining_bytes()


# -- host callables held by plans -----------------------------------------------------------
#
# `reenter` runs the plan under test again from inside its own call; the harness points
# it at the native plan or at the reference, whichever is running.

class Reentry:
    target = None
    depth = 0


def _reenter(value):
    if Reentry.target is None or Reentry.depth >= 2:
        return "deep"
    Reentry.depth += 1
    try:
        return Reentry.target({"a": value, "b": [value]})
    finally:
        Reentry.depth -= 1


def _raise_interrupt(*a):
    raise KeyboardInterrupt


def _raise_boom(*a):
    raise Boom("callable")


def _clear_arg(v, *a):
    if isinstance(v, (list, dict)):
        v.clear()
    return v


CALLABLES = [
    lambda v, a, b: ("called", v),
    lambda v, a, b: v,
    lambda v, a, b: MISSING,
    lambda v, a, b: {1: v},  # a key the JSON writer refuses
    lambda v, a, b: {"k": [v, None]},
    _raise_boom,
    _raise_interrupt,
    _clear_arg,
    lambda v, a, b: _reenter(v),
    len,  # a TypeError: wrong number of arguments
]

FORMATTERS = [None, None, lambda v: "fmt", _raise_boom, lambda v: 5, lambda v: _reenter(v)]


class DumpField:
    """A delegated dump field; `mode` picks what `serialize` does."""

    def __init__(self, mode):
        self.mode = mode

    def serialize(self, attr, obj, arg):
        m = self.mode
        if m == 0:
            return attr
        if m == 1:
            return MISSING
        if m == 2:
            raise Boom("serialize")
        if m == 3:
            if isinstance(obj, dict):
                obj.clear()  # the object being dumped, emptied mid-record
            return [attr]
        if m == 4:
            return _reenter(attr)
        if m == 5:
            raise KeyboardInterrupt
        return {"x": (1, 2.5, None)}


class LoadField:
    """A delegated load field."""

    def __init__(self, mode):
        self.mode = mode

    def deserialize(self, value, name, data, **kw):
        m = self.mode
        if m == 0:
            return (value, name, kw.get("partial", "none"))
        if m == 1:
            return MISSING
        if m == 2:
            raise Boom("deserialize")
        if m == 3:
            data.clear()  # the input record, emptied mid-load
            return value
        if m == 4:
            return _reenter(value)
        if m == 5:
            raise KeyboardInterrupt
        return [kw.get("partial")]


def _corrupt(d, value):
    """`value`, or now and then something of the wrong shape in its place."""
    if not d.chance(d.corrupt):
        return value
    choice = d.int(0, 11)
    if choice == 0:
        return list(value) if isinstance(value, tuple) else (value,)
    if choice == 1 and isinstance(value, tuple) and value:
        return value[: d.int(0, len(value) - 1)]  # a position that is read but absent
    if choice == 2 and isinstance(value, tuple):
        return value + ("extra", None)
    if choice == 3:
        return SubTuple(value) if isinstance(value, tuple) else SubStr("sub")
    if choice == 4:
        return d.pick([256, -1, 2**70, "1", 1.0, True, 17, 20, 255, IntLike(0)])
    if choice == 5:
        return d.pick([0, 1, None, "\ud800", b"k"])
    if choice == 6:
        return Clearing(0)  # its __index__ runs host code in the middle of decoding
    return value


# -- dump payloads -----------------------------------------------------------------------

def dump_schema(d, depth):
    n = d.int(0, 4)
    fields = [dump_field(d, depth) for _ in range(n)]
    return _corrupt(d, (d.pick([None, "arg", Color.RED]), _corrupt(d, fields)))


def dump_field(d, depth):
    out_key = _corrupt(d, d.pick(KEYS))
    attr = _corrupt(d, d.pick(ATTRS))
    if d.chance(0.15):
        return _corrupt(d, (True, out_key, attr, DumpField(d.int(0, 6))))
    default = d.pick([MISSING, MISSING, MISSING, None, 0, "dflt", [1]])
    return _corrupt(d, (_corrupt(d, False), out_key, attr, default, dump_element(d, depth)))


def dump_element(d, depth):
    leaves = [0, 1, 2, 3, 6, 7, 9, 10, 11, 12, 16]
    tag = d.pick(leaves if depth <= 0 else list(range(17)))
    if tag in (2, 3):
        e = (tag, _corrupt(d, d.bool()))
    elif tag == 4:
        e = (4, dump_schema(d, depth - 1), _corrupt(d, d.bool()))
    elif tag == 5:
        e = (5, dump_element(d, depth - 1))
    elif tag == 7:
        e = (7, d.pick(FORMATTERS), _corrupt(d, d.pick(["%Y-%m-%d", "%Y", "", "%Q"])))
    elif tag == 8:
        e = (8, _corrupt(d, d.bool()), dump_element(d, depth - 1))
    elif tag in (9, 12):
        e = (tag, d.pick(CALLABLES))
    elif tag == 11:
        e = (11, LEAVES[d.int(0, len(LEAVES) - 1)](1))
    elif tag == 13:
        e = (13, None if d.bool() else dump_element(d, depth - 1), None if d.bool() else dump_element(d, depth - 1))
    elif tag == 14:
        e = (14, _corrupt(d, tuple(dump_element(d, depth - 1) for _ in range(d.int(0, 3)))))
    elif tag == 15:
        e = (15, dump_schema(d, depth - 1), _corrupt(d, d.pick(KEYS)), _corrupt(d, d.bool()))
    else:
        e = (tag,)
    if d.corrupt and d.chance(d.corrupt / 2):
        e = (d.pick([17, 99, 255, 256, -3, "0", None]),) + e[1:]
    return _corrupt(d, e)


def distinct_keys(schema):
    """Whether every record level of a dump payload writes distinct keys (run_json
    only promises json.dumps' text then)."""
    _, fields = schema
    keys = [f[1] for f in fields]
    if len(keys) != len(set(keys)):
        return False
    return all(f[0] or _element_distinct(f[4]) for f in fields)


def _element_distinct(e):
    tag = e[0]
    if tag in (4, 15):
        return distinct_keys(e[1])
    if tag in (5, 8):
        return _element_distinct(e[-1])
    if tag == 13:
        return all(x is None or _element_distinct(x) for x in e[1:3])
    if tag == 14:
        return all(_element_distinct(x) for x in e[1])
    return True


# -- objects for a dump payload --------------------------------------------------------------

def junk(d):
    return leaf(d.int(0, len(LEAVES) - 1), d.int(0, 40))


def dump_object(d, schema, depth=0):
    """A record for `schema`: a holder of some kind with the attributes its fields read."""
    _, fields = schema
    attrs = []
    for f in fields:
        if d.chance(0.15):
            continue  # absent
        value = junk(d) if f[0] else dump_value(d, f[4], depth)
        attr = f[2]
        if "." in attr:
            pieces = attr.split(".")
            for p in reversed(pieces[1:]):
                value = Recipe(d.pick(["dict", "ns", "dict"]), [(p, value)])
            attr = pieces[0]
        attrs.append((attr, value))
    if d.chance(0.1):
        attrs.append((leaf("bad_eq"), junk(d)))  # BadEq: its hash collides with "a"
    kind = d.pick(["dict", "dict", "dict", "subdict", "ns", "slots", "getitem", "getattr", "probe"])
    return Recipe(kind, attrs, d.int(0, 5))


def dump_value(d, e, depth):
    if d.chance(0.12) or depth > 6:
        return junk(d)
    tag = e[0]
    if tag in (4, 15):
        schema, many = e[1], e[-1]
        if many:
            kind = d.pick(["list", "tuple", "gen", "sublist"])
            return Recipe(kind, [dump_object(d, schema, depth + 1) for _ in range(d.int(0, 3))])
        return dump_object(d, schema, depth + 1)
    if tag == 5:
        kind = d.pick(["list", "tuple", "gen", "sublist", "lying"])
        return Recipe(kind, [dump_value(d, e[1], depth + 1) for _ in range(d.int(0, 3))])
    if tag == 8:
        return leaf(d.pick(["red", "green", "namespace"]))
    if tag == 13:
        inner = e[2]
        pairs = [(d.pick(KEYS + [1, leaf("bad_eq")]), dump_value(d, inner, depth + 1) if inner else junk(d))
                 for _ in range(d.int(0, 3))]
        return Recipe(d.pick(["dict", "subdict"]), pairs)
    if tag == 14:
        n = len(e[1])
        if d.chance(0.15):
            n += d.pick([-1, 1])
        items = [dump_value(d, e[1][i], depth + 1) if i < len(e[1]) else junk(d) for i in range(max(n, 0))]
        return Recipe(d.pick(["list", "tuple", "gen", "lying"]), items)
    if tag == 10:
        return Recipe("dict", [(d.pick(KEYS), junk(d)) for _ in range(d.int(0, 2))])
    if tag == 7:
        return leaf(d.pick(["date", "date", "zero", "decimal"]))
    return junk(d)


# -- load payloads ---------------------------------------------------------------------------

UUID_CLS = uuid.UUID


class Meta(type):
    def __instancecheck__(cls, obj):
        raise Boom("instancecheck")


class Unjudgeable(metaclass=Meta):
    pass


class Container:
    """A container whose `in` test runs host code."""

    def __init__(self, items, mode):
        self.items, self.mode = items, mode

    def __contains__(self, x):
        if self.mode == 1:
            raise Boom("contains")
        if self.mode == 2:
            raise TypeError("contains")
        if self.mode == 3:
            raise KeyboardInterrupt
        return x in self.items

    def __iter__(self):
        return iter(self.items)


def container(d, items):
    kind = d.int(0, 6)
    if kind == 0:
        return frozenset(items)
    if kind == 1:
        return list(items)
    if kind == 2:
        return "".join(str(x) for x in items)
    return Container(list(items), kind - 3)


def validator(d):
    tag = d.int(0, 6)
    if tag == 0:
        v = (0, d.pick([None, 0, 1.5, "m"]), d.pick([None, 10, 2.5]), _corrupt(d, d.bool()), d.bool())
    elif tag == 1:
        v = (1, d.pick([None, 0, 2, -1]), d.pick([None, 3, 2**62]), d.pick([None, None, 2] + ([2**70] if d.corrupt else [])))
    elif tag in (2, 4, 5):
        v = (tag, container(d, d.pick([["a", "b", 1, 7], [1, 2, None], []])))
    elif tag == 3:
        v = (3, d.pick([7, "a", None, Clearing(0)]))
    else:
        v = (6, d.pick([lambda x: False, lambda x: None, lambda x: 0, _raise_boom, _raise_interrupt,
                        lambda x: _reenter(x), lambda x: x]))
    if d.corrupt and d.chance(d.corrupt / 2):
        v = (d.pick([7, 255, 256, "0"]),) + v[1:]
    return _corrupt(d, v)


def validators(d):
    return [validator(d) for _ in range(d.int(0, 2) if d.chance(0.3) else 0)]


def load_plan(d, depth, many=None):
    fields = [load_field(d, depth) for _ in range(d.int(0, 4))]
    keys = {f[1] for f in fields if isinstance(f, tuple) and len(f) > 1 and type(f[1]) is str}
    known = d.pick([frozenset(keys), frozenset(keys), set(keys) | {"x"}, list(keys), "abc",
                    Container(list(keys), d.int(0, 3))])
    extra = _corrupt(d, d.pick([0, 1, 2, 2, 7]))
    return _corrupt(d, (_corrupt(d, d.bool() if many is None else many), extra, known, _corrupt(d, fields)))


def load_field(d, depth):
    key = _corrupt(d, d.pick(KEYS))
    attr = _corrupt(d, d.pick(ATTRS))
    name = _corrupt(d, d.pick(KEYS))
    if d.chance(0.12):
        return _corrupt(d, (True, key, name, attr, LoadField(d.int(0, 6))))
    default = d.pick([MISSING, MISSING, MISSING, None, 0, "dflt"])
    return _corrupt(d, (_corrupt(d, False), key, attr, name, default, _corrupt(d, d.chance(0.3)),
                        d.chance(0.3), load_element(d, depth), _corrupt(d, validators(d))))


def load_element(d, depth):
    leaves = [0, 1, 2, 3, 7, 8, 9, 10, 11, 12, 13, 17, 18, 19]
    tag = d.pick(leaves if depth <= 0 else list(range(20)))
    if tag == 3:
        e = (3, _corrupt(d, d.bool()))
    elif tag == 4:
        e = (4, load_plan(d, depth - 1))
    elif tag == 5:
        e = (5, load_element(d, depth - 1), d.bool())
    elif tag == 6:
        e = (6, d.pick([Color, Color, Unjudgeable]), d.bool(), load_element(d, depth - 1))
    elif tag == 7:
        e = (7, d.pick([UUID_CLS, UUID_CLS, Unjudgeable]))
    elif tag == 8:
        e = (8, d.pick([ipaddress.IPv4Address, Unjudgeable, str]), d.pick([ipaddress.ip_address, str, _raise_boom]))
    elif tag in (9, 17, 18, 19):
        e = (tag, d.pick(CALLABLES))
    elif tag == 11:
        e = (11, LEAVES[d.int(0, len(LEAVES) - 1)](2))
    elif tag == 12:
        e = (12, container(d, ["y", True, 1]), container(d, ["n", False, 0, "y"]))
    elif tag == 14:
        e = (14, None if d.bool() else load_element(d, depth - 1), _corrupt(d, validators(d)),
             None if d.bool() else load_element(d, depth - 1), iter(validators(d)) if d.corrupt and d.bool() else validators(d))
    elif tag == 15:
        e = (15, _corrupt(d, tuple(load_element(d, depth - 1) for _ in range(d.int(0, 3)))))
    elif tag == 16:
        e = (16, load_plan(d, depth - 1), _corrupt(d, d.pick(KEYS)), d.bool())
    else:
        e = (tag,)
    if d.corrupt and d.chance(d.corrupt / 2):
        e = (d.pick([20, 99, 255, 256, -1, "0", None]),) + e[1:]
    return _corrupt(d, e)


# -- input for a load plan -------------------------------------------------------------------

def load_record(d, plan, depth=0):
    _, extra, _, fields = plan
    pairs = []
    for f in fields:
        roll = d.int(0, 9)
        if roll == 0:
            continue
        value = leaf("none") if roll == 1 else (junk(d) if f[0] else load_value(d, f[7], depth))
        pairs.append((f[1], value))
    if d.chance(0.2):
        pairs.append((d.pick(["x", "extra", "a", 3, leaf("bad_eq")]), junk(d)))
    return Recipe(d.pick(["dict", "dict", "dict", "subdict"]), pairs)


def load_records(d, plan, depth):
    kind = d.pick(["list", "tuple", "sublist", "gen"])
    return Recipe(kind, [load_record(d, plan, depth + 1) for _ in range(d.int(0, 3))])


def load_value(d, e, depth):
    if d.chance(0.12) or depth > 6:
        return junk(d)
    tag = e[0]
    if tag == 4:
        plan = e[1]
        return load_records(d, plan, depth) if plan[0] else load_record(d, plan, depth + 1)
    if tag == 16:
        plan, key, many = e[1], e[2], e[3]
        if many:
            return Recipe(d.pick(["list", "tuple"]), [junk(d) for _ in range(d.int(0, 2))])
        return junk(d)
    if tag == 5:
        kind = d.pick(["list", "tuple", "sublist", "lying"])
        return Recipe(kind, [leaf("none") if d.chance(0.2) else load_value(d, e[1], depth + 1) for _ in range(d.int(0, 3))])
    if tag == 15:
        n = len(e[1]) + (d.pick([-1, 1]) if d.chance(0.15) else 0)
        items = [load_value(d, e[1][i], depth + 1) if i < len(e[1]) else junk(d) for i in range(max(n, 0))]
        return Recipe(d.pick(["list", "tuple", "lying"]), items)
    if tag == 14:
        pairs = [(d.pick(KEYS + ["1", None, leaf("bad_eq")]), load_value(d, e[3], depth + 1) if e[3] else junk(d))
                 for _ in range(d.int(0, 3))]
        return Recipe(d.pick(["dict", "subdict"]), pairs)
    if tag == 10:
        return Recipe("dict", [(d.pick(KEYS), junk(d)) for _ in range(d.int(0, 2))])
    if tag == 6:
        return leaf(d.pick(["red", "green", "red_name", "int", "a", "digits"]))
    if tag == 7:
        return leaf(d.pick(["uuid", "uuid_text", "bytes16", "bytes", "a"]))
    return junk(d)


def partial_arg(d):
    kind = d.int(0, 7)
    if kind <= 2:
        return [None, False, True][kind]
    if kind == 3:
        return tuple(d.pick(PARTIAL_NAMES) for _ in range(d.int(0, 3)))
    if kind == 4:
        return [d.pick(PARTIAL_NAMES) for _ in range(d.int(0, 2))] + [d.pick([1, "a", "\ud800"])]
    if kind == 5:
        return d.pick([0, "abc", frozenset(["a.b", "c"])])
    if kind == 6:
        return Container(["a", "b.a"], d.int(0, 3))
    return SubStr("a.b")

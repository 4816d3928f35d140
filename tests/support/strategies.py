"""Hypothesis strategies shared by the tests and the fuzz harnesses: schemas of every field
kind, option and validator, objects and documents shaped after them (valid, junk and
hostile), partial selections and JSON texts. Objects are drawn as descriptions (``Desc``)
made afresh for every run, so each path sees its own one-shot iterators and hooks."""

import datetime
import enum
import ipaddress
import json
import types
import uuid

from hypothesis import strategies as st

from corvane_core import EXCLUDE, INCLUDE, RAISE, Schema, ValidationError
from corvane_core import fields as f
from corvane_core import validate as v
from corvane_core.schema import SchemaMeta
from tests.support.parity import check_dump, check_load, interrupt


class Color(enum.Enum):
    RED = 1
    GREEN = 2
    BLUE = "blue"


class Boom(Exception):
    """What hostile host code raises."""


class Hooks:
    """A host value whose str/int/float/eq/hash hooks raise, interrupt, return the wrong
    type or empty ``target`` (its container), as ``mode`` says. Its hash collides with
    ``key``, so a dict lookup of ``key`` runs its __eq__."""

    def __init__(self, mode, target=None, key="f0"):
        self.mode, self.target, self.key = mode, target, key

    def _act(self, result):
        if self.mode == "raise":
            raise Boom
        if self.mode == "interrupt":
            interrupt()
        if self.mode == "clear" and self.target is not None:
            self.target.clear()
        return object() if self.mode == "wrong" else result

    __str__ = lambda self: self._act("hooks")  # noqa: E731 - one line per hook
    __int__ = lambda self: self._act(3)  # noqa: E731
    __float__ = lambda self: self._act(2.5)  # noqa: E731
    __eq__ = lambda self, other: self._act(other is self)  # noqa: E731
    def __hash__(self):
        self._act(0)
        return hash(self.key)

    __repr__ = lambda self: f"Hooks({self.mode})"  # noqa: E731


class Desc:
    """A description materialised afresh per run: a holder of ``attrs`` (a ``HOLDERS``
    kind), a one-shot iterator (``Gen``) or a ``Hooks`` value ("hostile")."""

    def __init__(self, kind, arg):
        self.kind, self.arg = kind, arg

    def __repr__(self):
        return f"{self.kind}({self.arg!r})"


def Gen(items):
    return Desc("gen", items)


Slots = type("Slots", (), {"__init__": lambda self, attrs: self.__dict__.update(attrs)})
ItemsRefuse = type("ItemsRefuse", (Slots,), {"__getitem__": lambda self, key: {}[()]})  # KeyError: on to attributes
SubDict, StrSub, IntSub = type("SubDict", (dict,), {}), type("StrSub", (str,), {}), type("IntSub", (int,), {})
LyingLen = type("LyingLen", (list,), {"__len__": lambda self: 2})  # len() disagrees with iteration
# Input whose overridden mapping methods lie: loads must read the raw entries.
Decoy = type("Decoy", (dict,), {"__getitem__": lambda s, k: "decoy", "get": lambda s, *a: "decoy",
                                "keys": lambda s: ["decoy"], "items": lambda s: [("decoy", 1)],
                                "__iter__": lambda s: iter(["decoy"])})
HOLDERS = {"dict": dict, "decoy": Decoy, "subdict": SubDict, "ns": lambda a: types.SimpleNamespace(**a),
           "slots": Slots, "refuse": ItemsRefuse}
HOSTILE_MODES = ["raise", "interrupt", "clear", "wrong"]


def tame(desc):
    """Whether a description holds no host value that changes its container."""
    return "hostile('clear')" not in repr(desc)  # drawn text is too short to spell it


def materialise(desc):
    if isinstance(desc, Desc) and desc.kind == "hostile":
        return Hooks(desc.arg)
    if isinstance(desc, Desc) and desc.kind == "gen":
        return iter([materialise(x) for x in desc.arg])
    if isinstance(desc, Desc):
        attrs = {k: materialise(x) for k, x in desc.arg.items()}
        out, made = HOLDERS[desc.kind](attrs), list(attrs.values())
        target = out if isinstance(out, dict) else attrs
    elif type(desc) in (list, tuple, dict):
        made = [materialise(x) for x in (desc.values() if type(desc) is dict else desc)]
        target = out = dict(zip(desc, made)) if type(desc) is dict else type(desc)(made)
    else:
        return desc
    for value in made:
        if isinstance(value, Hooks) and value.mode == "clear" and isinstance(target, (dict, list)):
            value.target = target
    return out


# -- host callables of generated fields -------------------------------------------------------

def short_repr(value):
    if len(repr(value)) > 12:
        raise ValidationError("too long")


class Tagged(f.Custom):
    def _serialize(self, value, attr, obj):
        return "none" if value is None else f"<{value}>"

    def _deserialize(self, value, attr, data):
        if value == "bad":
            raise ValidationError("bad value")
        return [value]


# -- values -------------------------------------------------------------------------------------

small_ints = st.integers(-(2**53), 2**53)
finite = st.floats(allow_nan=False, allow_infinity=False)
short_text = st.text(max_size=6)
odd_text = st.sampled_from(["", "7", " 8 ", "1.5", "nan", "inf", "-inf", "x", "true", "no", "\ud800", "é"])
json_values = st.recursive(st.none() | st.booleans() | small_ints | finite | short_text, lambda kids: st.lists(
    kids, max_size=3) | st.dictionaries(short_text, kids, max_size=3), max_leaves=6)
junk = (st.none() | st.booleans() | st.integers() | st.floats() | odd_text | st.binary(max_size=4)
        | st.lists(small_ints, max_size=2) | st.dictionaries(short_text, small_ints, max_size=2)
        | st.sampled_from(HOSTILE_MODES).map(lambda mode: Desc("hostile", mode)))
TIMES = {f.DateTime: st.datetimes(datetime.datetime(1971, 1, 2), datetime.datetime(2100, 1, 1)),
         f.Date: st.dates(datetime.date(1000, 1, 1)), f.Time: st.times()}
# Values on the edges of the generated validators and of each kind's conversion, tried on
# every kind.
EDGE_VALUES = [
    None, True, False, 0, 1, 3, 7, 10, 13, -5, 50, 2**63, 2**70, 10**19, 1.0, 2.5, 7.5, 1e12, -0.0,
    float("nan"), float("inf"), float("-inf"), "", "a", "x", "ab", "abc", "7", " 8 ", "1.5", "nan", "inf",
    "1e400", "RED", "BLUE", "blue", "yes", "off", "TRUE", "maybe", "\ud800", "::1", "0" * 32, "1.2.3.4",
    "12345678-1234-5678-1234-567812345678", "2020-01-02", "2020-01-02T03:04:05", "03:04", "02/01/2020",
    b"x", b"ab", b"\xff", b"\x01" * 15, b"\x01" * 16, bytearray(b"x"), StrSub("a"), IntSub(3), 3232235777,
    [], [1], [None], [None, None], [1, "a"], [1, 2, 3], ["1", 2], (1, "a"), [("a", 1)], {}, {"a": 1},
    {"1": "2.5"}, {None: 1}, {"a": None}, {1: 1}, [{"a": 1}], [{"a": "x"}], Color.RED, uuid.UUID(int=3),
    ipaddress.ip_address("::2"), {1, 2},
]
NUMBER_CHECKS = [lambda: v.Range(-5, 50), lambda: v.Range(0, None, min_inclusive=False), lambda: v.Equal(7),
                 lambda: v.Range(None, 10, max_inclusive=False), lambda: v.OneOf([1, 2, 3, 2.5]),
                 lambda: v.NoneOf({0, 13}), lambda: (lambda x: x != 3)]
TEXT_CHECKS = [lambda: v.Length(1, 4), lambda: v.Length(equal=2), lambda: v.OneOf(["a", "b", ""]),
               lambda: v.NoneOf(["x"]), lambda: v.ContainsOnly("abc"), lambda: short_repr]
LIST_CHECKS = [lambda: v.Length(max=2), lambda: v.ContainsOnly([1, 2, "a", None]), lambda: short_repr]


def sometimes(main, other, weight=4):
    return st.one_of(*([main] * weight), other)


class FieldShape:
    """One generated field: how to make it, what its attribute may hold on dump and its
    input on load (valid or not), and its validators."""

    def __init__(self, make, obj, data, valid_obj=None, valid_data=None, ordinary=False, checks=()):
        self.make, self.obj, self.data, self.ordinary, self.checks = make, obj, data, ordinary, checks
        self.valid_obj = obj if valid_obj is None else valid_obj
        self.valid_data = data if valid_data is None else valid_data


def scalar(make, good_obj, good_data, ordinary=False, checks=(), data_junk=junk):
    """A field shape whose inputs are good ones, now and then junk."""
    return FieldShape(make, sometimes(good_obj, junk), sometimes(good_data, data_junk), good_obj, good_data, ordinary,
                      checks)


@st.composite
def scalar_shape(draw, ordinary_only=False):
    kind = draw(st.sampled_from(["str", "int", "float", "bool"] + ([] if ordinary_only else [
        "raw", "uuid", "ip", "time", "enum", "constant", "function", "custom"])))
    if kind == "str":
        return scalar(f.Str, short_text, short_text, True, TEXT_CHECKS)
    if kind in ("int", "float"):
        flags = ["strict" if kind == "int" else "allow_nan", "as_string"]
        opts = {} if ordinary_only else draw(st.fixed_dictionaries({}, optional=dict.fromkeys(flags, st.booleans())))
        cls, good = (f.Int, small_ints) if kind == "int" else (f.Float, finite)
        return scalar(lambda **kw: cls(**opts, **kw), good, good, True, NUMBER_CHECKS, junk | st.integers() | finite)
    if kind == "bool":
        return scalar(f.Bool, st.booleans(), st.booleans(), True)
    if kind == "raw":
        return FieldShape(f.Raw, json_values, json_values, valid_data=json_values.filter(lambda x: x is not None),
                          checks=LIST_CHECKS)
    if kind in ("uuid", "ip"):
        cls, good = (f.Uuid, st.uuids()) if kind == "uuid" else (f.IP, st.ip_addresses())
        return scalar(cls, good, good.map(str), data_junk=junk | st.binary(min_size=16, max_size=16))
    if kind == "time":
        cls = draw(st.sampled_from(list(TIMES)))
        fmt = draw(st.sampled_from({f.DateTime: ["iso", "timestamp", "%Y-%m-%d %H:%M"], f.Date: ["iso", "%d/%m/%Y"],
                                    f.Time: ["iso"]}[cls]))
        values = TIMES[cls]
        texts = st.floats(0, 4e9) if fmt == "timestamp" else values.map(
            lambda x: x.isoformat() if fmt == "iso" else x.strftime(fmt))
        return scalar(lambda **kw: cls(fmt, **kw), values, texts, data_junk=junk | values)
    if kind == "enum":
        by_value = draw(st.sampled_from([False, True, "field"]))
        members = st.sampled_from(list(Color))
        return scalar(lambda **kw: f.Enum(Color, by_value=f.Raw() if by_value == "field" else by_value, **kw), members,
                      members.map(lambda m: m.value if by_value else m.name), data_junk=junk | members)
    if kind == "constant":
        value = draw(st.sampled_from([1, "k", None, 2.5]))
        return FieldShape(lambda **kw: f.Constant(value, **kw), junk, junk)
    if kind == "function":
        return scalar(lambda **kw: f.Function(serialize=lambda o: type(o).__name__, deserialize=len, **kw), junk,
                      short_text)
    return scalar(Tagged, junk, short_text.filter(lambda x: x != "bad"), data_junk=junk | st.just("bad"))


@st.composite
def item_options(draw, shape):
    """Options that matter for a field used as a container item."""
    opts = {"allow_none": True} if shape and draw(st.integers(0, 3)) == 0 else {}
    if shape and shape.checks and draw(st.integers(0, 4)) == 0:
        opts["validate"] = draw(st.sampled_from(shape.checks))()
    return opts


def container_shape(depth, ordinary_only):
    inner = field_shape(depth - 1, ordinary_only)

    @st.composite
    def build(draw):
        kind = draw(st.sampled_from(["list", "nested", "nested_many"] + ([] if ordinary_only else [
            "tuple", "dict", "pluck", "self"])))
        if kind == "list":
            item = draw(inner)
            opts = {} if ordinary_only else draw(item_options(item))
            objs, datas = st.lists(item.obj, max_size=3), st.lists(sometimes(item.data, st.none(), 6), max_size=3)
            return FieldShape(lambda **kw: f.List(item.make(**opts), **kw), sometimes(
                objs | objs.map(tuple), objs.map(Gen) | short_text | junk), sometimes(datas | datas.map(tuple), junk),
                st.lists(item.valid_obj, max_size=3), st.lists(item.valid_data, max_size=3), item.ordinary, LIST_CHECKS)
        if kind == "tuple":
            items = draw(st.lists(inner, max_size=3))
            opts = [draw(item_options(i)) for i in items]
            objs, wrong = st.tuples(*[i.obj for i in items]), st.lists(junk, max_size=4)
            return FieldShape(lambda **kw: f.Tuple([i.make(**o) for i, o in zip(items, opts)], **kw),
                              sometimes(objs | objs.map(list), objs.map(lambda t: Gen(list(t))) | wrong | junk),
                              sometimes(st.tuples(*[sometimes(i.data, st.none(), 8) for i in items]).map(list), wrong),
                              objs, st.tuples(*[i.valid_data for i in items]).map(list))
        if kind == "dict":
            keys, values = draw(st.sampled_from([None, f.Str, f.Int])), draw(st.none() | inner)
            opts = draw(item_options(values))
            int_keys = st.sampled_from(["1", "-2", "30"])
            data_values = json_values if values is None else sometimes(values.data, st.none())
            return FieldShape(
                lambda **kw: f.Dict(keys=keys and keys(), values=values and values.make(**opts), **kw),
                sometimes(obj := st.dictionaries(short_text | st.integers(-3, 3), values.obj if values else json_values,
                                                 max_size=3), obj.map(lambda d: list(d.items())) | junk),
                sometimes(st.dictionaries(short_text | int_keys, data_values, max_size=3), junk),
                valid_data=st.dictionaries(int_keys if keys is f.Int else short_text,
                                           values.valid_data if values else json_values, max_size=3))
        if kind == "self":  # a schema that contains itself compiles into a delegated field
            return FieldShape(lambda **kw: f.List(f.Nested("self"), **kw), st.lists(st.just(Desc("dict", {})), max_size=2),
                              st.just([]) | junk, valid_data=st.just([]))
        nested = draw(schema_case(depth - 1, ordinary_only))
        both = [n for n, fld in nested.cls._declared_fields.items() if not (fld.dump_only or fld.load_only)]
        if kind == "pluck" and both:
            name, many = draw(st.sampled_from(both)), draw(st.booleans())
            one = nested.field_shapes[name]
            objs, datas = nested.record(extra={name: one.obj}), one.data
            if many:
                objs, datas, valid = st.lists(objs, max_size=2), st.lists(datas, max_size=2), st.lists(one.valid_data,
                                                                                                        max_size=2)
            return FieldShape(lambda **kw: f.Pluck(nested.cls, name, many=many, **kw), sometimes(objs, junk),
                              sometimes(datas, junk), valid_data=valid if many else one.valid_data)
        objs, datas = nested.record(), nested.document()
        valid_obj, valid_data = nested.record(valid=True), nested.document(valid=True)
        if kind == "nested_many":
            objs = sometimes(st.lists(objs, max_size=3) | st.lists(objs, max_size=2).map(tuple),
                             st.lists(objs, max_size=2).map(Gen) | junk)
            datas = sometimes(st.lists(datas, max_size=3), junk | st.lists(junk, max_size=2))
            valid_obj, valid_data = st.lists(valid_obj, max_size=3), st.lists(valid_data, max_size=3)
        return FieldShape(lambda **kw: f.Nested(nested.cls, many=kind == "nested_many", **kw),
                          sometimes(objs, junk), sometimes(datas, junk), valid_obj, valid_data, nested.ordinary)

    return build()


def field_shape(depth, ordinary_only=False):
    scalar = scalar_shape(ordinary_only)
    return scalar if depth <= 0 else st.one_of(scalar, scalar, container_shape(depth, ordinary_only))


@st.composite
def field_options(draw, shape, name):
    opts = {"data_key": name + "_k"} if draw(st.booleans()) else {}
    if draw(st.integers(0, 4)) == 0:
        opts["attribute"] = f"{name}_o.{name}"
    choice = draw(st.integers(0, 5))
    if choice == 0:
        opts["required"] = True
    elif choice == 1:
        opts["load_default"] = draw(st.sampled_from([0, "d", None, [], lambda: "called"]))
    if draw(st.integers(0, 4)) == 0:
        opts["dump_default"] = draw(st.sampled_from([0, "dd", None, lambda: "made"]))
    if draw(st.integers(0, 3)) == 0:
        opts["allow_none"] = draw(st.booleans())
    if shape.checks and draw(st.integers(0, 2)) == 0:
        opts["validate"] = [draw(st.sampled_from(shape.checks))() for _ in range(draw(st.integers(1, 2)))]
    side = draw(st.integers(0, 9))
    if side < 2:
        opts["dump_only" if side else "load_only"] = True
    return opts


class SchemaShape:
    def __init__(self, cls, field_shapes):
        self.cls, self.field_shapes = cls, field_shapes
        self.ordinary = all(s.ordinary for s in field_shapes.values())

    def __repr__(self):
        return f"<{self.cls.__name__}[{self.cls._unknown}] {list(self.cls._fields)}>"

    def record(self, valid=False, extra=None):
        """Dump objects of this schema."""
        extra = extra or {}

        @st.composite
        def build(draw):
            kind = "dict" if valid else draw(st.sampled_from(sorted(HOLDERS)))
            attrs = {}
            for name, field in self.cls._declared_fields.items():
                shape = self.field_shapes[name]
                if field.load_only or (not valid and draw(st.integers(0, 5)) == 0):
                    continue
                value = draw(extra.get(name, shape.valid_obj if valid else st.none() | shape.obj))
                outer, _, inner = (field.attribute or name).partition(".")
                attrs[outer] = Desc(kind, {inner: value}) if inner else value
            return Desc(kind, attrs)

        return build()

    def document(self, valid=False):
        """Load input of this schema: valid, junk, or valid but for one field, so that
        one rule decides the outcome."""
        loaded = [(n, fld) for n, fld in self.cls._declared_fields.items() if not fld.dump_only]

        @st.composite
        def build(draw, junk_doc):
            doc = {}
            for name, field in loaded:
                shape, roll = self.field_shapes[name], draw(st.integers(0, 9)) if junk_doc else 9
                if roll:
                    doc[field.data_key or name] = None if roll == 1 else draw(shape.data if junk_doc else shape.valid_data)
            if junk_doc and draw(st.integers(0, 5)) == 0:
                doc[draw(st.sampled_from(["extra", "f0", "f1_k"]))] = draw(json_values)
            if not valid and not junk_doc and loaded:
                name, field = draw(st.sampled_from(loaded))
                roll, shape = draw(st.integers(0, 5)), self.field_shapes[name]
                doc[field.data_key or name] = None if roll == 1 else draw(shape.data if roll < 4 else EDGES)
                if roll == 0:
                    del doc[field.data_key or name]
            return Decoy(doc) if junk_doc and draw(st.integers(0, 7)) == 0 else doc

        return build(False) if valid else build(False) | build(True)


EDGES = st.sampled_from(EDGE_VALUES)
_counter = [0]


@st.composite
def schema_case(draw, depth=2, ordinary_only=False):
    namespace, shapes = {}, {}
    for index in range(draw(st.integers(int(ordinary_only), 4))):
        name = f"f{index}"
        shape = shapes[name] = draw(field_shape(depth, ordinary_only))
        try:
            namespace[name] = shape.make(**({} if ordinary_only else draw(field_options(shape, name))))
        except ValueError:  # an option mix the field refuses (a required field with a default)
            namespace[name] = shape.make()
    namespace["Meta"] = type("Meta", (), {"unknown": RAISE if ordinary_only else draw(st.sampled_from(
        [RAISE, EXCLUDE, INCLUDE]))})
    _counter[0] += 1
    return SchemaShape(SchemaMeta(f"Gen{_counter[0]}", (Schema,), namespace), shapes)


def dump_case(data):
    """One drawn dump held to the pure path: the differential test and its fuzzer."""
    shape = data.draw(schema_case())
    many = data.draw(st.booleans())
    desc = data.draw(st.lists(shape.record(), max_size=3) if many else shape.record())
    if many and data.draw(st.booleans()):
        desc = Gen(desc)  # the host's re-run after a fallback must still see every record
    check_dump(shape.cls, lambda: materialise(desc), many, host=tame(desc))


def load_case(data):
    """One drawn load, with a partial selection, held to the pure path."""
    shape = data.draw(schema_case())
    many = data.draw(st.booleans())
    doc = shape.document()
    desc = data.draw(st.lists(doc, max_size=3) | st.lists(doc, max_size=2).map(tuple) if many else doc)
    check_load(shape.cls, lambda: materialise(desc), many, data.draw(partial_args(shape)), host=tame(desc))


def partial_args(shape):
    names = list(shape.cls._declared_fields)
    dotted = [f"{a}.{b}" for a in names for b in ("f0", "f1")]
    return st.sampled_from([None, False, True, ["f0", 1], 0]) | st.lists(
        st.sampled_from(names + dotted + ["zz"]), max_size=3).map(tuple)


# -- JSON texts ------------------------------------------------------------------------------

KEYS = st.sampled_from(["a", "b", "f0", "f1_k", "\u00e9", "", "a\u0000", "\U0001f600", "id"])
JSON_SCALARS = st.one_of(st.none(), st.booleans(), st.integers(-(10**20), 10**20), st.floats(), st.text(max_size=12),
                         st.sampled_from([0, -1, 2**53 + 1, 10**18 - 1, -(10**18) + 1, 10**18, 2**63, -(2**63) - 1]),
                         st.floats(-1e-300, 1e-300))
# Objects are pair lists, so that a document can repeat a key.
JSON_TREES = st.recursive(JSON_SCALARS, lambda inner: st.one_of(
    st.lists(inner, max_size=4).map(lambda items: ("arr", items)),
    st.lists(st.tuples(KEYS, inner), max_size=5).map(lambda pairs: ("obj", pairs))), max_leaves=20)
SPACE = st.sampled_from(["", "", " ", "\n", "\t", "\r\n  "])


@st.composite
def json_texts(draw, tree=JSON_TREES):
    """JSON text as json.loads reads it: repeated keys, any spacing, escaped or raw."""
    ascii_only = draw(st.booleans())

    def render(x):
        ws = draw(SPACE)
        if isinstance(x, tuple) and x[0] == "arr":
            return ws + "[" + ",".join(render(i) for i in x[1]) + draw(SPACE) + "]"
        if isinstance(x, tuple):
            pairs = (draw(SPACE) + json.dumps(k, ensure_ascii=ascii_only) + ":" + render(i) for k, i in x[1])
            return ws + "{" + ",".join(pairs) + draw(SPACE) + "}"
        return ws + json.dumps(x, ensure_ascii=ascii_only) + draw(SPACE)

    return render(draw(tree))

"""Hypothesis strategies shared by the tests and the fuzz harnesses: random schema
classes, objects and input documents shaped after them (valid, junk and hostile), and
JSON texts.

Dump objects are drawn as descriptions (``Rec``, ``Gen``, ``Hostile``) and
materialised afresh for every run, so that each path sees its own one-shot iterators,
holder objects and host objects that tamper with their container.
"""

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
from tests.support.parity import interrupt


class Color(enum.Enum):
    RED = 1
    GREEN = 2
    BLUE = "blue"


# -- dump-object descriptions ------------------------------------------------------------

class Rec:
    """An object holding ``attrs``, as one of several holder types."""

    def __init__(self, holder, attrs):
        self.holder = holder
        self.attrs = attrs

    def __repr__(self):
        return f"Rec({self.holder}, {self.attrs!r})"


class Gen:
    """A one-shot iterator over ``items``."""

    def __init__(self, items):
        self.items = items

    def __repr__(self):
        return f"Gen({self.items!r})"


class Slots:
    """Attributes only, no item access."""

    def __init__(self, attrs):
        self.__dict__.update(attrs)


class ItemsRefuse:
    """``__getitem__`` raises TypeError, so lookups go on to the attributes."""

    def __init__(self, attrs):
        self.__dict__.update(attrs)

    def __getitem__(self, key):
        raise TypeError("no items here")


class SubDict(dict):
    pass


class StrSub(str):
    pass


class IntSub(int):
    pass


class Decoy(dict):
    """Input whose overridden mapping methods lie: loads must read the raw entries."""

    def __getitem__(self, key):
        return "decoy"

    def get(self, key, default=None):
        return "decoy"

    def keys(self):
        return ["decoy"]

    def items(self):
        return [("decoy", 1)]

    def __iter__(self):
        return iter(["decoy"])


HOLDERS = {
    "dict": dict,
    "decoy": lambda attrs: Decoy(attrs),
    "subdict": SubDict,
    "ns": lambda attrs: types.SimpleNamespace(**attrs),
    "slots": Slots,
    "refuse": ItemsRefuse,
}


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

    def __str__(self):
        return self._act("hooks")

    def __int__(self):
        return self._act(3)

    def __float__(self):
        return self._act(2.5)

    def __eq__(self, other):
        return self._act(other is self)

    def __hash__(self):
        self._act(0)
        return hash(self.key)

    def __repr__(self):
        return f"Hooks({self.mode})"


class Hostile:
    """Describes a ``Hooks`` value; a "clear" one is aimed at the container it lands in."""

    def __init__(self, mode):
        self.mode = mode

    def __repr__(self):
        return f"Hostile({self.mode})"


HOSTILE_MODES = ["raise", "interrupt", "clear", "wrong"]


def tame(desc):
    """Whether a description holds no host value that changes its container."""
    if isinstance(desc, Hostile):
        return desc.mode != "clear"
    items = desc.attrs.values() if isinstance(desc, Rec) else desc.items if isinstance(desc, Gen) else desc
    if isinstance(items, dict):
        items = list(items.keys()) + list(items.values())
    return all(tame(x) for x in items) if isinstance(items, (list, tuple, type({}.values()))) else True


def materialise(desc):
    made = []
    if isinstance(desc, Hostile):
        return Hooks(desc.mode)
    if isinstance(desc, Gen):
        return iter([materialise(x) for x in desc.items])
    if isinstance(desc, Rec):
        attrs = {k: materialise(x) for k, x in desc.attrs.items()}
        out, made = HOLDERS[desc.holder](attrs), list(attrs.values())
        target = attrs if desc.holder in ("ns", "slots", "refuse") else out
    elif type(desc) in (list, tuple, dict):
        made = [materialise(x) for x in (desc.values() if type(desc) is dict else desc)]
        out = dict(zip(desc, made)) if type(desc) is dict else type(desc)(made)
        target = out
    else:
        return desc
    for value in made:
        if isinstance(value, Hooks) and value.mode == "clear" and isinstance(target, (dict, list)):
            value.target = target
    return out


# -- host callables used by generated fields ---------------------------------------------------

def describe(obj):
    return type(obj).__name__


def length_of(value):
    return len(value)


def not_three(value):
    return value != 3


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


# -- value strategies ---------------------------------------------------------------------

small_ints = st.integers(-(2**53), 2**53)
finite = st.floats(allow_nan=False, allow_infinity=False)
short_text = st.text(max_size=6)
odd_text = st.sampled_from(["", "7", " 8 ", "1.5", "nan", "inf", "-inf", "x", "true", "no", "\ud800", "é"])
json_scalars = st.none() | st.booleans() | small_ints | finite | short_text
json_values = st.recursive(json_scalars, lambda kids: st.lists(kids, max_size=3)
                           | st.dictionaries(short_text, kids, max_size=3), max_leaves=6)
hostile = st.sampled_from(HOSTILE_MODES).map(Hostile)
junk = (st.none() | st.booleans() | st.integers() | st.floats() | odd_text | st.binary(max_size=4)
        | st.lists(small_ints, max_size=2) | st.dictionaries(short_text, small_ints, max_size=2) | hostile)
datetimes = st.datetimes(min_value=datetime.datetime(1971, 1, 2), max_value=datetime.datetime(2100, 1, 1))
dates = st.dates(min_value=datetime.date(1000, 1, 1))
ips = st.ip_addresses()


def sometimes(main, other, weight=4):
    """``main`` most of the time, ``other`` now and then."""
    return st.one_of(*([main] * weight), other)


class FieldShape:
    """One generated field: how to make it, what its attribute may hold on dump,
    what its input may hold on load, and which of those values are ordinary."""

    def __init__(self, make, obj, data, *, valid_obj=None, valid_data=None, ordinary=False, validators=(),
                 edges=()):
        self.make = make
        # Inputs right on a rule's boundary, for the single-fault documents.
        self.edges = st.sampled_from(list(edges) + BOUNDARY_VALUES)
        self.obj = obj
        self.data = data
        self.valid_obj = valid_obj if valid_obj is not None else obj
        self.valid_data = valid_data if valid_data is not None else data
        self.ordinary = ordinary
        self.validators = validators


# Values on the edges of the generated validators, good for any kind.
BOUNDARY_VALUES = [0, 3, 7, 10, 13, -5, 50, 2.5, "", "a", "x", "ab", [1, 2, 3], None]

NUMBER_VALIDATORS = [
    lambda: v.Range(-5, 50), lambda: v.Range(0, None, min_inclusive=False), lambda: v.Range(None, 10, max_inclusive=False),
    lambda: v.OneOf([1, 2, 3, 2.5]), lambda: v.Equal(7), lambda: v.NoneOf({0, 13}), lambda: not_three,
]
TEXT_VALIDATORS = [
    lambda: v.Length(1, 4), lambda: v.Length(equal=2), lambda: v.OneOf(["a", "b", ""]), lambda: v.NoneOf(["x"]),
    lambda: v.ContainsOnly("abc"), lambda: short_repr,
]
LIST_VALIDATORS = [lambda: v.Length(max=2), lambda: v.ContainsOnly([1, 2, "a", None]), lambda: short_repr]


@st.composite
def scalar_shape(draw, ordinary_only=False):
    kinds = ["str", "int", "float", "bool"] if ordinary_only else [
        "str", "int", "float", "bool", "raw", "uuid", "ip", "datetime", "date", "time", "enum",
        "constant", "function", "custom"]
    kind = draw(st.sampled_from(kinds))
    if kind == "str":
        return FieldShape(lambda **kw: f.Str(**kw), sometimes(short_text, junk), sometimes(short_text, junk),
                    valid_obj=short_text, valid_data=short_text, ordinary=True, validators=TEXT_VALIDATORS,
                    edges=[b"x", b"\xff", StrSub("x"), 5, "\ud800", "abc"])
    if kind == "int":
        opts = {} if ordinary_only else draw(st.fixed_dictionaries({}, optional={
            "strict": st.booleans(), "as_string": st.booleans()}))
        return FieldShape(lambda **kw: f.Int(**opts, **kw), sometimes(small_ints, junk | finite),
                    sometimes(small_ints, junk | st.integers() | finite),
                    valid_obj=small_ints, valid_data=small_ints, ordinary=True, validators=NUMBER_VALIDATORS,
                    edges=[True, False, "7", " 8 ", 7.5, "x", 2**70, 10**19, IntSub(4), float("inf")])
    if kind == "float":
        opts = {} if ordinary_only else draw(st.fixed_dictionaries({}, optional={
            "allow_nan": st.booleans(), "as_string": st.booleans()}))
        return FieldShape(lambda **kw: f.Float(**opts, **kw), sometimes(finite, junk | small_ints),
                    sometimes(finite | small_ints, junk),
                    valid_obj=finite, valid_data=finite, ordinary=True, validators=NUMBER_VALIDATORS,
                    edges=[float("nan"), float("inf"), float("-inf"), "nan", "inf", True, "1e400", "1.5", 10**400])
    if kind == "bool":
        return FieldShape(lambda **kw: f.Bool(**kw), sometimes(st.booleans(), junk),
                    sometimes(st.booleans(), junk | st.sampled_from(["yes", "off", "1", "maybe"])),
                    valid_obj=st.booleans(), valid_data=st.booleans(), ordinary=True,
                    edges=["yes", "off", 2, 1.0, 0.0, [], "maybe", "TRUE"])
    if kind == "raw":
        return FieldShape(lambda **kw: f.Raw(**kw), json_values, json_values, validators=LIST_VALIDATORS,
                    valid_data=json_values.filter(lambda x: x is not None))
    if kind == "uuid":
        return FieldShape(lambda **kw: f.Uuid(**kw), sometimes(st.uuids(), junk),
                    sometimes(st.uuids().map(str), junk | st.binary(min_size=16, max_size=16)),
                    valid_obj=st.uuids(), valid_data=st.uuids().map(str),
                    edges=[b"\x01" * 16, b"\x01" * 15, "0" * 32, "x", 5, uuid.UUID(int=7)])
    if kind == "ip":
        return FieldShape(lambda **kw: f.IP(**kw), sometimes(ips, junk), sometimes(ips.map(str), junk),
                    valid_obj=ips, valid_data=ips.map(str),
                    edges=["1.2.3.4", "::1", "1.2.3", 3232235777, ipaddress.ip_address("::2")])
    if kind in ("datetime", "date", "time"):
        cls = {"datetime": f.DateTime, "date": f.Date, "time": f.Time}[kind]
        formats = {"datetime": ["iso", "timestamp", "%Y-%m-%d %H:%M"], "date": ["iso", "%d/%m/%Y"],
                   "time": ["iso"]}[kind]
        fmt = draw(st.sampled_from(formats))
        values = {"datetime": datetimes, "date": dates, "time": st.times()}[kind]
        texts = values.map(lambda x: x.isoformat())
        if fmt == "timestamp":
            texts = st.floats(0, 4e9)
        elif fmt != "iso":
            texts = values.map(lambda x, fmt=fmt: x.strftime(fmt))
        return FieldShape(lambda **kw: cls(fmt, **kw), sometimes(values, junk), sometimes(texts, junk | values),
                    valid_obj=values, valid_data=texts,
                    edges=["2020-01-02", "2020-01-02T03:04:05", "03:04", "02/01/2020", 1e12, datetime.datetime(2020, 1, 1)])
    if kind == "enum":
        by_value = draw(st.sampled_from([False, True, "field"]))
        members = st.sampled_from(list(Color))
        if by_value is False:
            data = members.map(lambda m: m.name)
        else:
            data = members.map(lambda m: m.value)
        make_by = (lambda: f.Raw()) if by_value == "field" else (lambda: by_value)
        return FieldShape(lambda **kw: f.Enum(Color, by_value=make_by(), **kw), sometimes(members, junk),
                    sometimes(data, junk | members), valid_obj=members, valid_data=data, edges=["RED", "blue", "BLUE", 1, 1.0, True, Color.RED, [1]])
    if kind == "constant":
        value = draw(st.sampled_from([1, "k", None, 2.5]))
        return FieldShape(lambda **kw: f.Constant(value, **kw), junk, junk)
    if kind == "function":
        return FieldShape(lambda **kw: f.Function(serialize=describe, deserialize=length_of, **kw), junk,
                    sometimes(short_text, junk), valid_data=short_text)
    return FieldShape(lambda **kw: Tagged(**kw), junk, sometimes(short_text | st.just("bad"), junk),
                valid_data=short_text.filter(lambda x: x != "bad"))


def container_shape(depth, ordinary_only):
    inner = field_shape(depth - 1, ordinary_only)

    @st.composite
    def build(draw):
        kinds = ["list", "nested", "nested_many"] if ordinary_only else [
            "list", "tuple", "dict", "nested", "nested_many", "pluck", "self"]
        kind = draw(st.sampled_from(kinds))
        if kind == "list":
            item = draw(inner)
            item_opts = {} if ordinary_only else draw(item_options(item))
            obj_items = st.lists(item.obj, max_size=3)
            data_items = st.lists(sometimes(item.data, st.none(), 6), max_size=3)
            return FieldShape(
                lambda **kw: f.List(item.make(**item_opts), **kw),
                sometimes(obj_items | obj_items.map(tuple), obj_items.map(Gen) | short_text | junk),
                sometimes(data_items | data_items.map(tuple), junk | short_text),
                valid_obj=st.lists(item.valid_obj, max_size=3), valid_data=st.lists(item.valid_data, max_size=3),
                ordinary=item.ordinary, validators=LIST_VALIDATORS)
        if kind == "tuple":
            items = draw(st.lists(inner, min_size=0, max_size=3))
            opts = [draw(item_options(i)) for i in items]
            objs = st.tuples(*[i.obj for i in items])
            datas = st.tuples(*[sometimes(i.data, st.none(), 8) for i in items]).map(list)
            wrong = st.lists(junk, max_size=4)
            return FieldShape(
                lambda **kw: f.Tuple([i.make(**o) for i, o in zip(items, opts)], **kw),
                sometimes(objs | objs.map(list), objs.map(lambda t: Gen(list(t))) | wrong | junk),
                sometimes(datas, wrong | junk),
                valid_obj=objs, valid_data=st.tuples(*[i.valid_data for i in items]).map(list), edges=[[], [None] * len(items), [1] * (len(items) + 1)])
        if kind == "dict":
            keys = draw(st.sampled_from([None, "str", "int"]))
            values = draw(st.none() | inner)
            key_field = {None: lambda: None, "str": lambda: f.Str(), "int": lambda: f.Int()}[keys]
            value_opts = draw(item_options(values)) if values is not None else {}
            obj_values = values.obj if values is not None else json_values
            data_values = sometimes(values.data, st.none()) if values is not None else json_values
            obj_keys = short_text | st.integers(-3, 3) if keys == "int" else short_text
            obj = st.dictionaries(obj_keys, obj_values, max_size=3)
            data_keys = short_text | st.sampled_from(["1", "-2", "x"]) if keys == "int" else short_text
            data = st.dictionaries(data_keys, data_values, max_size=3)
            return FieldShape(
                lambda **kw: f.Dict(keys=key_field(), values=None if values is None else values.make(**value_opts), **kw),
                sometimes(obj, obj.map(lambda d: list(d.items())) | junk),
                sometimes(data, junk),
                valid_data=st.dictionaries(st.sampled_from(["1", "-2", "30"]) if keys == "int" else short_text,
                                           values.valid_data if values is not None else json_values, max_size=3),
                edges=[{None: 1}, {"a": None}, [("a", 1)], {"1": "2"}, {1: 1}])
        nested = draw(schema_case(depth - 1, ordinary_only))
        if kind == "self":
            # A schema that contains itself compiles into a delegated field.
            return FieldShape(lambda **kw: f.List(f.Nested("self"), **kw), st.lists(st.just(Rec("dict", {})), max_size=2),
                        st.just([]) | junk, valid_data=st.just([]))
        if kind == "pluck":
            both = [n for n, fld in nested.cls._declared_fields.items() if not (fld.dump_only or fld.load_only)]
            if both:
                name = draw(st.sampled_from(both))
                many = draw(st.booleans())
                one = nested.field_shapes[name]
                obj_one = nested.record(extra={name: one.obj})
                if many:
                    return FieldShape(lambda **kw: f.Pluck(nested.cls, name, many=True, **kw),
                                sometimes(st.lists(obj_one, max_size=2), junk), sometimes(st.lists(one.data, max_size=2), junk),
                                valid_data=st.lists(one.valid_data, max_size=2))
                return FieldShape(lambda **kw: f.Pluck(nested.cls, name, **kw), sometimes(obj_one, junk),
                            sometimes(one.data, junk), valid_data=one.valid_data)
        many = kind == "nested_many"
        records, datas = nested.record(), nested.document()
        if many:
            obj = sometimes(st.lists(records, max_size=3) | st.lists(records, max_size=2).map(tuple),
                            st.lists(records, max_size=2).map(Gen) | junk)
            data = sometimes(st.lists(datas, max_size=3), junk | st.lists(junk, max_size=2))
            valid_obj = st.lists(nested.record(valid=True), max_size=3)
            valid_data = st.lists(nested.document(valid=True), max_size=3)
        else:
            obj, data = sometimes(records, junk), sometimes(datas, junk)
            valid_obj, valid_data = nested.record(valid=True), nested.document(valid=True)
        return FieldShape(lambda **kw: f.Nested(nested.cls, many=many, **kw), obj, data,
                    valid_obj=valid_obj, valid_data=valid_data, ordinary=nested.ordinary)

    return build()


def field_shape(depth, ordinary_only=False):
    if depth <= 0:
        return scalar_shape(ordinary_only)
    return st.one_of(scalar_shape(ordinary_only), scalar_shape(ordinary_only), container_shape(depth, ordinary_only))


@st.composite
def item_options(draw, shape):
    """Options that matter for a field used as a container item."""
    if shape is None:
        return {}
    opts = {}
    if draw(st.integers(0, 3)) == 0:
        opts["allow_none"] = True
    if shape.validators and draw(st.integers(0, 4)) == 0:
        opts["validate"] = draw(st.sampled_from(shape.validators))()
    return opts


@st.composite
def field_options(draw, shape, name, ordinary_only):
    opts = {}
    if ordinary_only:
        return opts
    if draw(st.booleans()):
        opts["data_key"] = name + "_k"
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
    if shape.validators and draw(st.integers(0, 2)) == 0:
        opts["validate"] = [draw(st.sampled_from(shape.validators))() for _ in range(draw(st.integers(1, 2)))]
    side = draw(st.integers(0, 9))
    if side == 0:
        opts["dump_only"] = True
    elif side == 1:
        opts["load_only"] = True
    return opts


class SchemaShape:
    def __init__(self, cls, field_shapes, options):
        self.cls = cls
        self.field_shapes = field_shapes
        self.options = options
        self.ordinary = all(s.ordinary for s in field_shapes.values())

    def __repr__(self):
        return f"<{self.cls.__name__}[{self.cls._unknown}] {[f for f in self.cls._fields]}>"

    def record(self, valid=False, extra=None):
        """Strategy for dump objects of this schema."""
        parts = {}
        for name, field in self.cls._declared_fields.items():
            shape = self.field_shapes[name]
            value = (shape.valid_obj if valid else shape.obj) if extra is None or name not in extra else extra[name]
            parts[name] = value if valid else st.none() | value
        holder = st.just("dict") if valid else st.sampled_from(sorted(HOLDERS))

        @st.composite
        def build(draw):
            kind = draw(holder)
            attrs = {}
            for name, strategy in parts.items():
                field = self.cls._declared_fields[name]
                if field.load_only or (not valid and draw(st.integers(0, 5)) == 0):
                    continue
                value = draw(strategy)
                attribute = field.attribute or name
                if "." in attribute:
                    outer, inner = attribute.split(".")
                    attrs[outer] = Rec(kind, {inner: value})
                else:
                    attrs[attribute] = value
            return Rec(kind, attrs)

        return build()

    def document(self, valid=False):
        """Strategy for load input of this schema."""
        if not valid:
            return st.one_of(self._document(False), self.near_valid())
        return self._document(True)

    def near_valid(self):
        """Valid input except for one field, so that one rule decides the outcome."""
        loaded = [(n, fld) for n, fld in self.cls._declared_fields.items() if not fld.dump_only]

        @st.composite
        def build(draw):
            doc = draw(self._document(True))
            if loaded:
                name, field = draw(st.sampled_from(loaded))
                key = field.data_key or name
                roll = draw(st.integers(0, 5))
                if roll == 0:
                    doc.pop(key, None)
                else:
                    shape = self.field_shapes[name]
                    doc[key] = None if roll == 1 else draw(shape.data if roll < 4 else shape.edges)
            return doc

        return build()

    def _document(self, valid):
        @st.composite
        def build(draw):
            doc = {}
            for name, field in self.cls._declared_fields.items():
                shape = self.field_shapes[name]
                if field.dump_only:
                    continue
                key = field.data_key or name
                if valid:
                    doc[key] = draw(shape.valid_data)
                    continue
                roll = draw(st.integers(0, 9))
                if roll == 0:
                    continue
                doc[key] = None if roll == 1 else draw(shape.data)
            if not valid and draw(st.integers(0, 5)) == 0:
                doc[draw(st.sampled_from(["extra", "f0", "f1_k"]))] = draw(json_values)
            if not valid and draw(st.integers(0, 7)) == 0:
                return Decoy(doc)
            return doc

        return build()


_counter = [0]


@st.composite
def schema_case(draw, depth=2, ordinary_only=False):
    count = draw(st.integers(0 if not ordinary_only else 1, 4))
    namespace, shapes = {}, {}
    for index in range(count):
        name = f"f{index}"
        shape = draw(field_shape(depth, ordinary_only))
        opts = draw(field_options(shape, name, ordinary_only))
        try:
            namespace[name] = shape.make(**opts)
        except ValueError:  # an option mix the field refuses (timestamp dates and so on)
            namespace[name] = shape.make()
        shapes[name] = shape
    unknown = RAISE if ordinary_only else draw(st.sampled_from([RAISE, EXCLUDE, INCLUDE]))
    namespace["Meta"] = type("Meta", (), {"unknown": unknown})
    _counter[0] += 1
    cls = SchemaMeta(f"Gen{_counter[0]}", (Schema,), namespace)
    return SchemaShape(cls, shapes, {"unknown": unknown})


def partial_args(shape):
    names = list(shape.cls._declared_fields)
    dotted = [f"{a}.{b}" for a in names for b in ("f0", "f1")]
    return st.one_of(
        st.sampled_from([None, False, True]),
        st.lists(st.sampled_from(names + dotted + ["zz"]), max_size=3).map(tuple),
        st.just(["f0", 1]),
        st.just(0),
    )


# -- JSON texts ------------------------------------------------------------------------------

KEYS = st.sampled_from(["a", "b", "f0", "f1_k", "\u00e9", "", "a\u0000", "\U0001f600", "id"])
EDGE_INTS = st.sampled_from([0, -1, 2**53 + 1, 10**18 - 1, -(10**18) + 1, 10**18, 2**63, -(2**63) - 1])
JSON_SCALARS = st.one_of(st.none(), st.booleans(), st.integers(-(10**20), 10**20), EDGE_INTS, st.floats(),
                         st.floats(-1e-300, 1e-300), st.text(max_size=12))
# Objects are pair lists, so that a document can repeat a key.
JSON_TREES = st.recursive(JSON_SCALARS, lambda inner: st.one_of(
    st.lists(inner, max_size=4).map(lambda items: ("arr", items)),
    st.lists(st.tuples(KEYS, inner), max_size=5).map(lambda pairs: ("obj", pairs))), max_leaves=20)
SPACE = st.sampled_from(["", "", " ", "\n", "\t", "\r\n  "])


@st.composite
def json_texts(draw, tree=JSON_TREES):
    """JSON text as json.loads reads it: repeated keys, any spacing, escaped or raw."""
    ascii_only = draw(st.booleans())

    def render(v):
        ws = draw(SPACE)
        if isinstance(v, tuple) and v[0] == "arr":
            return ws + "[" + ",".join(render(x) for x in v[1]) + draw(SPACE) + "]"
        if isinstance(v, tuple):
            pairs = (draw(SPACE) + json.dumps(k, ensure_ascii=ascii_only) + ":" + render(x) for k, x in v[1])
            return ws + "{" + ",".join(pairs) + draw(SPACE) + "}"
        return ws + json.dumps(v, ensure_ascii=ascii_only) + draw(SPACE)

    return render(draw(tree))

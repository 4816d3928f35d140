"""Host code that fights back, across all four calls: objects whose hooks raise or
return the wrong types, callables that mutate what is being dumped or loaded or
re-enter the same plan, KeyboardInterrupt. Every accelerated call must equal the
schema's own pure path on a fresh copy of the input, or fall back; none may crash or
keep memory."""

import copy
import decimal
import json
import types

import pytest

from corvane_core import INCLUDE, MISSING, AccelFallback, Schema, _pure
from corvane_core import fields as f
from corvane_core import validate as v
from tests.support.host_compare import same as _same
from tests.support.leaks import assert_no_leak


class Boom(Exception):
    pass


def boom(*_):
    raise Boom


def interrupt(*_):
    raise KeyboardInterrupt


class Outcome:
    def __init__(self, fn):
        self.value = self.error = None
        try:
            self.value, self.kind = fn(), "ok"
        except AccelFallback:
            self.kind = "fallback"
        except BaseException as exc:  # KeyboardInterrupt too: it must reach the caller
            self.kind, self.error = "error", exc

    def __repr__(self):
        return f"<{self.kind} {self.value if self.kind == 'ok' else self.error!r}>"


def no_leak(fn):
    def call():
        try:
            fn()
        except KeyboardInterrupt:
            pass
    assert_no_leak(call, rounds=300, warmup=30)


def plain(v, seen=()):
    """Host objects in a result replaced by what they are, so no hook runs."""
    if isinstance(v, Hooks):
        return ("Hooks", v.mode)
    if id(v) in seen:
        return "<cycle>"
    if type(v) is dict:
        return {plain(k, seen): plain(x, seen + (id(v),)) for k, x in dict.items(v)}
    if type(v) in (list, tuple):
        return type(v)(plain(x, seen + (id(v),)) for x in v)
    return v


def same(a, b):
    try:
        return _same(plain(a), plain(b))
    except Boom:
        return type(a) is type(b)


def agrees(accel, pure):
    if accel.kind == "fallback":
        # Never in place of an interrupt: the host would swallow it in its re-run.
        return not (pure.kind == "error" and isinstance(pure.error, KeyboardInterrupt))
    if accel.kind == "ok":
        return pure.kind == "ok" and same(accel.value, pure.value)
    return pure.kind == "error" and type(accel.error) is type(pure.error)


# -- host objects -------------------------------------------------------------------------

class Hooks:
    """A value whose str/eq/hash/int hooks do what `mode` says."""

    def __init__(self, mode, target=None, armed=True):
        self.mode, self.target, self.armed = mode, target, armed

    def _act(self, result):
        if not self.armed:
            return result
        if self.mode == "raise":
            raise Boom
        if self.mode == "interrupt":
            raise KeyboardInterrupt
        if self.mode == "clear" and self.target is not None:
            self.target.clear()
        if self.mode == "wrong":
            return object()
        return result

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
        return hash("id")  # collides with the field name "id"

    def __repr__(self):
        return f"Hooks({self.mode})"


class Record:
    """Attributes through __getattr__ and items through __getitem__, each able to fail."""

    def __init__(self, attrs, getattr_mode=None, getitem_mode=None):
        self.__dict__["_attrs"] = attrs
        self.__dict__["_ga"] = getattr_mode
        self.__dict__["_gi"] = getitem_mode

    def __getattr__(self, key):
        mode = self.__dict__["_ga"]
        if mode == "raise":
            raise Boom(key)
        if mode == "interrupt":
            raise KeyboardInterrupt
        if key in self.__dict__["_attrs"]:
            return self.__dict__["_attrs"][key]
        raise AttributeError(key)

    def __getitem__(self, key):
        mode = self.__dict__["_gi"]
        if mode is None:
            raise TypeError("attributes only")
        if mode == "keyerror":
            raise KeyError(key)
        if mode == "raise":
            raise Boom(key)
        if mode == "interrupt":
            raise KeyboardInterrupt
        return self.__dict__["_attrs"][key]


class ShrinkingList(list):
    """Drops its last items while it is iterated."""

    def __iter__(self):
        for i, x in enumerate(list.__iter__(self)):
            if i == 0:
                del self[1:]
            yield x


class RaisingIter(list):
    def __iter__(self):
        yield self[0]
        raise Boom


class LyingLen(list):
    def __len__(self):
        return 2


class SubStr(str):
    pass


class BadLen:
    def __len__(self):
        raise Boom


class Holder:
    """The schema instance a re-entrant callable calls back into."""

    schema = None


def reenter_dump(value, *_):
    return Holder.schema.dump_plan.run({"id": 1, "name": value, "tags": [value]}, False)


def reenter_dumps(value, *_):
    return Holder.schema.dump_plan.run_json({"id": 1, "name": value, "tags": []}, False)


def reenter_load(value, *_):
    return Holder.schema.load_plan.run({"id": 1, "name": str(value), "tags": []}, False, None)


def reenter_loads(value, *_):
    return Holder.schema.load_plan.run_json(json.dumps({"id": 1, "name": str(value), "tags": []}), False, None)


class Hook(f.Custom):
    """A custom field whose conversion is a given host callable."""

    def __init__(self, fn, **kw):
        super().__init__(**kw)
        self.fn = fn

    def _serialize(self, value, attr, obj):
        return self.fn(value)

    def _deserialize(self, value, attr, data):
        return self.fn(value)


class Kid(Schema):
    n = f.Int()
    s = f.Str(allow_none=True)


def make_schema(extra_field=None, unknown=None):
    namespace = {
        "id": f.Int(),
        "name": f.Str(),
        "tags": f.List(f.Str()),
        "kids": f.Nested(Kid, many=True),
        "meta": f.Dict(keys=f.Str(), values=f.Raw()),
        "pair": f.Tuple([f.Str(), f.Float()]),
    }
    if extra_field is not None:
        namespace["hook"] = extra_field
    if unknown is not None:
        namespace["Meta"] = type("Meta", (), {"unknown": unknown})
    return type("Hostile", (Schema,), namespace)


def base_record():
    return {"id": 1, "name": "n", "tags": ["a", "b", "c"], "kids": [{"n": 1, "s": "x"}, {"n": 2, "s": None}],
            "meta": {"k": 1}, "pair": ["p", 1.5], "hook": "h"}


# -- dump cases: (field for "hook" or None, object factory) --------------------------------

def _fresh(changes):
    """Each path gets its own values: factories (plain functions) are called, the rest
    copied. Containers whose iteration is hostile must come from factories, since
    copying would iterate them."""
    return {k: v() if isinstance(v, types.FunctionType) else copy.deepcopy(v) for k, v in changes.items()}


def _with(**changes):
    def make():
        r = base_record()
        r.update(_fresh(changes))
        return r
    return make


def _record_obj(ga=None, gi=None):
    return lambda: Record(base_record(), ga, gi)


def _self_clearing():
    r = base_record()
    r["tags"] = ["a", Hooks("clear", r), "c"]
    return r


def _list_clearing():
    r = base_record()
    tags = ["a", "b", "c"]
    tags[1] = Hooks("clear", tags)
    r["tags"] = tags
    return r


def _dict_clearing():
    r = base_record()
    meta = {"a": 1, "b": 2}
    meta[Hooks("clear", meta)] = 3  # a key: converting it empties the dict being walked
    r["meta"] = meta
    return r


def _colliding_key(mode):
    def make():
        key = Hooks(mode, armed=False)  # quiet while the input is built
        r = {key: 0}
        r.update(base_record())
        key.armed = True
        return r
    return make


DUMP_CASES = {
    "getattr_raises": (None, _record_obj(ga="raise")),
    "getattr_interrupts": (None, _record_obj(ga="interrupt")),
    "getitem_keyerror_then_attribute": (None, _record_obj(gi="keyerror")),
    "getitem_raises": (None, _record_obj(gi="raise")),
    "getitem_interrupts": (None, _record_obj(gi="interrupt")),
    "str_raises": (None, _with(tags=["a", Hooks("raise")])),
    "str_interrupts": (None, _with(name=Hooks("interrupt"))),
    "str_wrong_type": (None, _with(tags=[Hooks("wrong")])),
    "int_wrong_type": (None, _with(id=Hooks("wrong"))),
    "eq_raises_on_lookup": (None, _colliding_key("raise")),
    "eq_interrupts_on_lookup": (None, _colliding_key("interrupt")),
    "hash_raises_on_output_key": (f.Dict(keys=f.Raw()), _with(hook={Hooks("ok"): 1})),
    "record_cleared_while_dumped": (None, _self_clearing),
    "list_cleared_while_dumped": (None, _list_clearing),
    "dict_cleared_while_dumped": (None, _dict_clearing),
    "list_shrinks_under_iteration": (None, _with(tags=lambda: ShrinkingList(["a", "b", "c"]))),
    "iteration_raises": (None, _with(tags=lambda: RaisingIter(["a", "b"]))),
    "tuple_len_lies": (None, _with(pair=lambda: LyingLen(["a", 1.0, 2.0]))),
    "reenters_run": (Hook(reenter_dump), base_record),
    "reenters_run_json": (Hook(reenter_dumps), base_record),
    "function_mutates_record": (f.Function(serialize=lambda obj: obj.clear()), base_record),
    "function_interrupts": (f.Function(serialize=interrupt), base_record),
    "returns_decimal": (Hook(lambda v: decimal.Decimal("1.5")), base_record),
    "returns_set": (Hook(lambda v: {1}), base_record),
    "returns_int_keys": (Hook(lambda v: {1: v}), base_record),
    "returns_str_subclass": (Hook(lambda v: SubStr("s")), base_record),
    "returns_self_containing": (Hook(lambda v: (lambda l: l.append(l) or l)([])), base_record),
}


def dump_outcomes(extra, make, many, text):
    cls = make_schema(extra)
    Holder.schema = cls()
    plan = Holder.schema.dump_plan
    obj = (lambda: [make(), make()]) if many else make
    if text:
        accel = Outcome(lambda: plan.run_json(obj(), many))
        pure = Outcome(lambda: json.dumps(_pure.dump(cls, obj(), many)))
    else:
        accel = Outcome(lambda: plan.run(obj(), many))
        pure = Outcome(lambda: _pure.dump(cls, obj(), many))
    return accel, pure, lambda: plan.run_json(obj(), many) if text else plan.run(obj(), many)


@pytest.mark.parametrize("text", [False, True], ids=["run", "run_json"])
@pytest.mark.parametrize("many", [False, True])
@pytest.mark.parametrize("case", sorted(DUMP_CASES))
def test_hostile_dump(case, many, text):
    accel, pure, again = dump_outcomes(*DUMP_CASES[case], many, text)
    assert agrees(accel, pure), f"accelerated {accel!r}, pure {pure!r}"
    if not many:
        no_leak(again)
    Holder.schema = None


# -- load cases: (field for "hook" or None, document factory, partial) ------------------------

_doc = _with


class Names:
    """A partial selection whose `in` test and iteration do what `mode` says."""

    def __init__(self, mode):
        self.mode = mode

    def __contains__(self, name):
        if self.mode == "raise":
            raise Boom
        if self.mode == "interrupt":
            raise KeyboardInterrupt
        return name == "hook"

    def __iter__(self):
        if self.mode == "iter_raises":
            raise Boom
        return iter(["kids.s", "hook"])


class SubDict(dict):
    def __getitem__(self, key):
        raise Boom

    def get(self, *a):
        raise Boom

    def keys(self):
        raise Boom

    def items(self):
        raise Boom


def _clear_doc(value):
    Holder.doc.clear()
    return value


def _grow_list(value):
    Holder.doc["tags"].append("z")
    return value


def _grow_walked(value):
    items = Holder.doc["hook"]
    if len(items) < 8:
        items.append(len(items))
    return value


def _clear_walked(value):
    Holder.doc["hook"].clear()
    return value


LOAD_CASES = {
    "key_eq_raises": (None, _colliding_key("raise"), None),
    "key_eq_interrupts": (None, _colliding_key("interrupt"), None),
    "dict_subclass_methods_not_called": (None, lambda: SubDict(base_record()), None),
    "validator_raises": (f.Raw(validate=boom), base_record, None),
    "validator_interrupts": (f.Raw(validate=interrupt), base_record, None),
    "validator_clears_input": (f.Raw(validate=_clear_doc), base_record, None),
    "converter_clears_input": (Hook(_clear_doc), base_record, None),
    "converter_grows_list": (Hook(_grow_list), base_record, None),
    "list_grows_while_loaded": (f.List(Hook(_grow_walked)), _doc(hook=[1, 2]), None),
    "list_cleared_while_loaded": (f.List(Hook(_clear_walked)), _doc(hook=[1, 2, 3]), None),
    "dict_cleared_while_loaded": (f.Dict(values=Hook(_clear_walked)), _doc(hook={"a": 1, "b": 2}), None),
    "converter_raises": (Hook(boom), base_record, None),
    "converter_interrupts": (Hook(interrupt), base_record, None),
    "converter_wrong_type": (Hook(lambda v: object), base_record, None),
    "function_reenters_run": (f.Function(deserialize=reenter_load), base_record, None),
    "function_reenters_run_json": (f.Function(deserialize=reenter_loads), base_record, None),
    "int_hook_wrong_type": (None, _doc(id=Hooks("wrong")), None),
    "int_hook_interrupts": (None, _doc(id=Hooks("interrupt")), None),
    "eq_hook_in_validator": (f.Raw(validate=lambda v: v == 1), _doc(hook=Hooks("raise")), None),
    "partial_contains_raises": (f.Int(required=True), _doc(hook=MISSING), Names("raise")),
    "partial_contains_interrupts": (f.Int(required=True), _doc(hook=MISSING), Names("interrupt")),
    "partial_iteration_raises": (None, base_record, Names("iter_raises")),
    "partial_generator": (None, base_record, (x for x in ["kids.s"])),
    "bool_membership_hash_raises": (f.Bool(), _doc(hook=Hooks("raise")), None),
    "bool_membership_hash_interrupts": (f.Bool(), _doc(hook=Hooks("interrupt")), None),
    "one_of_eq_raises": (f.Raw(validate=v.OneOf([1, 2])), _doc(hook=Hooks("raise")), None),
    "one_of_eq_interrupts": (f.Raw(validate=v.OneOf([1, 2])), _doc(hook=Hooks("interrupt")), None),
    "none_of_unhashable": (f.Raw(validate=v.NoneOf({1, 2})), _doc(hook=[1]), None),
    "length_raises": (f.Raw(validate=v.Length(1, 3)), _doc(hook=lambda: BadLen()), None),
}


def _without_missing(d):
    if any(v is MISSING for v in dict.values(d)):
        return {k: v for k, v in dict.items(d) if v is not MISSING}
    return d


def load_outcomes(extra, make, partial, many, text, unknown=None):
    cls = make_schema(extra, unknown)
    Holder.schema = cls()
    plan = Holder.schema.load_plan

    def data():
        d = _without_missing(make())
        Holder.doc = d
        return [d, copy.copy(d)] if many else d

    def sel():
        return copy.copy(partial) if isinstance(partial, Names) else partial

    if text:
        def doc_text():
            try:
                return json.dumps(data())
            except Exception:  # not JSON-able, or json.dumps runs a hook that raises
                return None
        if doc_text() is None:
            return None
        fresh = [None]

        def accel_call():
            fresh[0] = doc_text()
            return plan.run_json(fresh[0], many, sel())
        accel = Outcome(accel_call)
        pure = Outcome(lambda: _pure.load(cls, json.loads(doc_text()), many, sel(), cls._unknown))
        return accel, pure, lambda: plan.run_json(doc_text(), many, sel())
    accel = Outcome(lambda: plan.run(data(), many, sel()))
    pure = Outcome(lambda: _pure.load(cls, data(), many, sel(), cls._unknown))
    return accel, pure, lambda: plan.run(data(), many, sel())


@pytest.mark.parametrize("unknown", [None, INCLUDE])
@pytest.mark.parametrize("text", [False, True], ids=["run", "run_json"])
@pytest.mark.parametrize("many", [False, True])
@pytest.mark.parametrize("case", sorted(LOAD_CASES))
def test_hostile_load(case, many, text, unknown):
    extra, make, partial = LOAD_CASES[case]
    if isinstance(partial, type(x for x in ())):
        partial = (x for x in ["kids.s"]) if not text else ("kids.s",)
    got = load_outcomes(extra, make, partial, many, text, unknown)
    if got is None:
        pytest.skip("not JSON-able")
    accel, pure, again = got
    assert agrees(accel, pure), f"accelerated {accel!r}, pure {pure!r}"
    if not many and unknown is None and not isinstance(partial, type(x for x in ())):
        no_leak(again)
    Holder.schema = None


# -- root arrays are loaded while they are parsed -------------------------------------------

class Known:
    def __init__(self, exc):
        self.exc = exc

    def __contains__(self, key):
        raise self.exc


@pytest.mark.parametrize("rest, exc, reaches", [
    (', {"a": 2}]', Boom, Boom),  # the document is sound: the host's own error stands
    (", x", Boom, AccelFallback),  # json.loads would refuse first: no host error may show
    ('\x00"c"', Boom, AccelFallback),
    (', {"a": 2}]', KeyboardInterrupt, KeyboardInterrupt),
    (", x", KeyboardInterrupt, KeyboardInterrupt),  # an interrupt is never swallowed
])
def test_host_error_in_an_early_record_of_a_malformed_document(rest, exc, reaches):
    from corvane_core._core import LoadDeserializer

    plan = LoadDeserializer((False, 0, Known(exc), []), MISSING)  # Reject: asks known_keys
    for data in ('[{"a": 1}' + rest, ('[{"a": 1}' + rest).encode()):
        with pytest.raises(reaches):
            plan.run_json(data, True, None)


# -- order of host code in the fused dump ------------------------------------------------------

class TouchingDict(dict):
    """Its own items(), which json.dumps calls, changes what a later field reads."""

    def items(self):
        self.record["b"] = "changed"
        return super().items()


class TouchingList(list):
    def __iter__(self):
        self.record["b"] = "changed"
        return super().__iter__()


@pytest.mark.parametrize("cls, value", [(TouchingDict, {"x": 1}), (TouchingList, [1])])
def test_writer_hooks_see_the_whole_dump_done(cls, value):
    from corvane_core._core import DumpSerializer

    plan = DumpSerializer((None, [(False, "a", "a", MISSING, (0,)), (False, "b", "b", MISSING, (0,))]), MISSING)

    def record():
        r = {"b": "orig"}
        r["a"] = cls(value)
        r["a"].record = r
        return r

    try:
        text = plan.run_json(record(), False)
    except AccelFallback:
        return
    assert text == json.dumps(plan.run(record(), False))

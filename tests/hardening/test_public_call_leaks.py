"""Every public call, repeated on its success path and on each way it can fail or fall
back, must keep neither Python allocations nor process memory. Values are a few
kilobytes each, so that one kept result, tree or buffer per call shows in the resident
set as well as in tracemalloc."""

import decimal
import json

import pytest

from corvane_core._core import AccelFallback, DumpSerializer, LoadDeserializer
from tests.support import dump_payloads as dp
from tests.support import load_payloads as lp
from tests.support.leaks import assert_no_leak

ROUNDS = 2000
RESIDENT_SLACK = 2 * 1024 * 1024  # a kept 2 kB result per call would be 4 MB


class Boom(Exception):
    pass


def _boom(*_):
    raise Boom


def _interrupt(*_):
    raise KeyboardInterrupt


class BadStr:
    def __str__(self):
        raise Boom


class Field:
    def __init__(self, fn):
        self.fn = fn

    def serialize(self, attr, obj, arg):
        return self.fn(obj)

    def deserialize(self, value, name, data, **kw):
        return self.fn(value)


# -- dump -----------------------------------------------------------------------------------

DUMP_PAYLOAD = dp.schema(
    dp.field("id", dp.integer()),
    dp.field("name", dp.TEXT),
    dp.field("tags", dp.list_of(dp.TEXT)),
    dp.field("kids", dp.nested(dp.schema(dp.field("n", dp.integer(True)), dp.field("m", dp.DICT_COPY)), many=True)),
    dp.field("pair", dp.tuple_of(dp.TEXT, dp.floating())),
    dp.field("meta", dp.dict_of(dp.TEXT, dp.PASS)),
    dp.field("x", dp.call_field(lambda v, a, b: v), attr="deep.x", default="dflt"),
    dp.delegate("d", Field(lambda obj: obj.get("id") if isinstance(obj, dict) else None)),
)
DUMP = DumpSerializer(DUMP_PAYLOAD, dp.MISSING)


def record(i, **changes):
    r = {"id": i, "name": f"name-{i}" * 8, "tags": [f"tag{i}-{j}" for j in range(20)],
         "kids": [{"n": j, "m": {"k": "v" * 30}} for j in range(8)], "pair": [f"p{i}", i / 3],
         "meta": {f"m{j}": j for j in range(10)}, "deep": {"x": "y" * 40}}
    r.update(changes)
    return r


RECORDS = [record(i) for i in range(3)]
LATE = [*RECORDS, record(9, meta=[1])]  # falls back after three records were built
DUMP_CALLS = {
    "run_ok": lambda: DUMP.run(RECORDS, True),
    "run_one_ok": lambda: DUMP.run(RECORDS[0], False),
    "run_fallback_late": lambda: DUMP.run(LATE, True),
    "run_fallback_tuple_length": lambda: DUMP.run(record(1, pair=[1, 2, 3]), False),
    "run_fallback_one_shot": lambda: DUMP.run(iter(RECORDS), True),
    "run_host_error": lambda: DUMP.run([*RECORDS, record(2, tags=["a", BadStr()])], True),
    "run_interrupt": lambda: DumpSerializer(dp.schema(dp.field("a"), dp.delegate("b", Field(_interrupt))),
                                            dp.MISSING).run(RECORDS, True),
    "run_bad_many": lambda: DUMP.run(RECORDS, 1),
    "run_json_ok": lambda: DUMP.run_json(RECORDS, True),
    "run_json_refused_value": lambda: DUMP.run_json([*RECORDS, record(3, meta={"a": decimal.Decimal(1)})], True),
    "run_json_refused_key": lambda: DUMP.run_json(record(3, kids=[{"n": 1, "m": {1: 2}}]), False),
    "run_json_int_text_limit": lambda: DUMP.run_json(record(3, meta={"big": 10**5000}), False),
    "run_json_host_error": lambda: DUMP.run_json([*RECORDS, record(4, kids=[{"n": object()}])], True),
    "run_json_bad_args": lambda: DUMP.run_json(RECORDS),
    "construct_ok": lambda: DumpSerializer(DUMP_PAYLOAD, dp.MISSING),
    "construct_unknown_tag": lambda: DumpSerializer(dp.schema(*DUMP_PAYLOAD[1], dp.field("z", (17,))), dp.MISSING),
    "construct_cast_error": lambda: DumpSerializer(dp.schema(*DUMP_PAYLOAD[1], dp.field("z", [0])), dp.MISSING),
    "construct_index_error": lambda: DumpSerializer(dp.schema(*DUMP_PAYLOAD[1], (False, "k", "a", None)), dp.MISSING),
    "construct_overflow": lambda: DumpSerializer(dp.schema(dp.field("z", dp.list_of((300,)))), dp.MISSING),
    "construct_surrogate": lambda: DumpSerializer(dp.schema(dp.field("z", attr="a.\ud800")), dp.MISSING),
}


# -- load -----------------------------------------------------------------------------------

INNER = lp.plan(lp.direct("n", lp.INT, required=True), lp.direct("s", lp.TEXT, nullable=True))
LOAD_PAYLOAD = lp.plan(
    lp.direct("id", lp.INT, validators=[lp.bounds(0, 10**6)]),
    lp.direct("name", lp.TEXT, validators=[lp.size_limit(1, 400)]),
    lp.direct("tags", lp.list_of(lp.TEXT), validators=[lp.items_in(frozenset(f"tag{j}" for j in range(40)))]),
    lp.direct("kids", lp.nested(INNER[:0] + (True,) + INNER[1:])),
    lp.direct("pair", lp.tuple_of(lp.TEXT, lp.float_())),
    lp.direct("meta", lp.dict_of(lp.TEXT, [], lp.INT, [lp.bounds(0)])),
    lp.direct("x", lp.PASS, attribute="deep.x", default="dflt"),
    lp.direct("opt", lp.INT, name="opt", required=True),
    extra=lp.KEEP, known=frozenset(["id", "name", "tags", "kids", "pair", "meta", "x", "opt"]),
)
LOAD = LoadDeserializer(LOAD_PAYLOAD, lp.MISSING)


def doc(i, **changes):
    d = {"id": i, "name": f"name-{i}" * 8, "tags": [f"tag{j}" for j in range(20)],
         "kids": [{"n": j, "s": "s" * 30} for j in range(8)], "pair": [f"p{i}", i / 3],
         "meta": {f"m{j}": j for j in range(10)}, "x": "y" * 40, "opt": 1, "extra": ["e" * 30]}
    d.update(changes)
    return d


DOCS = [doc(i) for i in range(3)]
TEXT = json.dumps(DOCS)
LATE_DOCS = [*DOCS, doc(7, kids=[{"n": 1}, {"s": "no n"}])]
LATE_TEXT = json.dumps(LATE_DOCS)


class Contains:
    def __contains__(self, key):
        raise Boom


RAISING_KNOWN = LoadDeserializer(LOAD_PAYLOAD[:2] + (Contains(),) + LOAD_PAYLOAD[3:], lp.MISSING)
INTERRUPTING = LoadDeserializer(lp.plan(lp.direct("a", lp.INT), lp.direct("b", lp.PASS, validators=[lp.callback(_interrupt)])),
                                lp.MISSING)
DELEGATING = LoadDeserializer(lp.plan(lp.direct("a", lp.list_of(lp.INT)), lp.delegate("b", Field(_boom))), lp.MISSING)
LOAD_CALLS = {
    "run_ok": lambda: LOAD.run(DOCS, True, None),
    "run_partial_names": lambda: LOAD.run(DOCS, True, ("kids.s", "opt", "zz")),
    "run_partial_all": lambda: LOAD.run([{"kids": [{}]}], True, True),
    "run_fallback_late": lambda: LOAD.run(LATE_DOCS, True, None),
    "run_fallback_validator": lambda: LOAD.run(doc(1, tags=["nope"]), False, None),
    "run_fallback_partial_entry": lambda: LOAD.run(DOCS, True, ["kids.s", 1]),
    "run_fallback_delegate": lambda: DELEGATING.run({"a": list(range(50)), "b": 1}, False, None),
    "run_error_known_keys": lambda: RAISING_KNOWN.run(DOCS, True, None),
    "run_error_partial_not_iterable": lambda: LOAD.run({"kids": []}, False, 0),
    "run_interrupt": lambda: INTERRUPTING.run([{"a": "1", "b": 2}] * 3, True, None),
    "run_bad_many": lambda: LOAD.run(DOCS, None, None),
    "run_json_ok_bytes": lambda: LOAD.run_json(TEXT.encode(), True, None),
    "run_json_ok_str": lambda: LOAD.run_json(TEXT, True, ["kids.s"]),
    "run_json_fallback_late": lambda: LOAD.run_json(LATE_TEXT, True, None),
    "run_json_refused_parse": lambda: LOAD.run_json(TEXT[:-3], True, None),
    "run_json_refused_depth": lambda: LOAD.run_json('{"x": ' + "[" * 5000 + "]" * 5000 + "}", False, None),
    "run_json_refused_type": lambda: LOAD.run_json(bytearray(TEXT.encode()), True, None),
    "run_json_surrogate_text": lambda: LOAD.run_json(TEXT[:-2] + ', "\ud800"]', True, None),
    "run_json_error_known_keys": lambda: RAISING_KNOWN.run_json(TEXT, True, None),
    "run_json_interrupt": lambda: INTERRUPTING.run_json('[{"a": 1, "b": 2}, {"a": 1, "b": 2}]', True, None),
    "construct_ok": lambda: LoadDeserializer(LOAD_PAYLOAD, lp.MISSING),
    "construct_unknown_validator": lambda: LoadDeserializer(
        lp.plan(*LOAD_PAYLOAD[3], lp.direct("z", validators=[(7,)])), lp.MISSING),
    "construct_unknown_element": lambda: LoadDeserializer(lp.plan(*LOAD_PAYLOAD[3], lp.direct("z", (20,))), lp.MISSING),
    "construct_validator_iteration_error": lambda: LoadDeserializer(
        lp.plan(*LOAD_PAYLOAD[3], lp.direct("z", (14, None, map(_boom, [1]), None, []))), lp.MISSING),
    "construct_short_entry": lambda: LoadDeserializer(lp.plan(*LOAD_PAYLOAD[3], lp.direct("z")[:8]), lp.MISSING),
}


CALLS = {**{f"dump_{k}": v for k, v in DUMP_CALLS.items()}, **{f"load_{k}": v for k, v in LOAD_CALLS.items()}}


def _end(fn):
    try:
        fn()
        return "ok"
    except AccelFallback:
        return "fallback"
    except BaseException as exc:
        return type(exc).__name__


def expected(name):
    if name.endswith("interrupt"):
        return "KeyboardInterrupt"
    for word, end in [("fallback", "fallback"), ("refused", "fallback"), ("surrogate_text", "fallback"),
                      ("one_shot", "fallback"), ("_ok", "ok"), ("partial_names", "ok"), ("partial_all", "ok")]:
        if word in name:
            return end
    return "error"


@pytest.mark.parametrize("name", sorted(CALLS))
def test_path_ends_as_named(name):
    """So that the leak check of each name covers the path it claims."""
    end = _end(CALLS[name])
    want = expected(name)
    assert end == want if want != "error" else end not in ("ok", "fallback", "KeyboardInterrupt"), end


@pytest.mark.parametrize("name", sorted(CALLS))
def test_repeated_call_keeps_no_memory(name):
    assert_no_leak(CALLS[name], rounds=ROUNDS, warmup=ROUNDS // 5, resident=RESIDENT_SLACK)

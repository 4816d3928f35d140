"""Every public call, repeated on its success path and on each way it can fail, fall
back or be interrupted, keeps neither Python allocations, references nor process memory.
Values are a few kilobytes each, so that one kept result, tree or buffer per call shows."""

import decimal
import json

import pytest

from corvane_core import DumpSerializer, LoadDeserializer, Schema
from corvane_core import fields as f
from corvane_core import validate as v
from tests.support.leaks import assert_no_leak
from tests.support.parity import D, L, MISSING, Outcome, dfield, interrupt, lfield, lpayload
from tests.support.strategies import Boom, Hooks


class Kid(Schema):
    n = f.Int(required=True)
    s = f.Str(allow_none=True)
    m = f.Dict()


class Rich(Schema):
    class Meta:
        unknown = "include"

    id = f.Int(validate=v.Range(0, 10**6))
    id_text = f.Int(as_string=True, attribute="id", dump_only=True)
    name = f.Str(validate=v.Length(1, 400))
    tags = f.List(f.Str(), validate=v.ContainsOnly([f"tag{j}" for j in range(40)]))
    kids = f.Nested(Kid, many=True)
    first = f.Pluck(Kid, "n", many=True, attribute="kids", dump_only=True)
    pair = f.Tuple([f.Str(), f.Float()])
    meta = f.Dict(keys=f.Str(), values=f.Int(validate=v.Range(0)))
    x = f.Raw(attribute="deep.x", load_default="dflt", dump_default="dflt")
    when = f.Date(dump_only=True)
    c = f.Constant(("c",))


def record(i, **changes):
    r = {"id": i, "name": f"name-{i}" * 8, "tags": [f"tag{j}" for j in range(20)], "pair": [f"p{i}", i / 3],
         "kids": [{"n": j, "s": "s" * 30, "m": {"k": "v" * 30}} for j in range(8)],
         "meta": {f"m{j}": j for j in range(10)}, "deep": {"x": "y" * 40}}
    return dict(r, **changes)


DUMP, LOAD = Rich.plans()
RECORDS = [record(i) for i in range(3)]
LATE = [*RECORDS, record(9, meta=[1])]  # falls back after three records were built
DOCS = [{**{k: v for k, v in r.items() if k != "deep"}, "x": "y" * 40, "extra": ["e" * 30]} for r in RECORDS]
TEXT = json.dumps(DOCS)
LATE_DOCS = [*DOCS, dict(DOCS[0], kids=[{"n": 1}, {"s": "no n"}])]
KNOWN_RAISES = LoadDeserializer(Rich.load_payload()[:2] + (type("K", (), {"__contains__": interrupt})(),)
                                + Rich.load_payload()[3:], MISSING)
INTERRUPTING = LoadDeserializer(lpayload(lfield("a", (L.INT,)), lfield("b", validators=[(6, interrupt)])), MISSING)
DELEGATING = LoadDeserializer(lpayload(lfield("a", (L.LIST_OF, (L.INT,), False)), (True, "b", "b", "b", Hooks(
    "raise"))), MISSING)
HOOKED = DumpSerializer((None, [dfield("a"), (True, "b", "b", type("F", (), {"serialize": interrupt})())]), MISSING)
BROKEN_DUMP = [dfield("z", (17,)), dfield("z", [0]), (False, "k", "a", None), dfield("z", (D.LIST_OF, (300,))),
               dfield("z", attr="a.\ud800")]
BROKEN_LOAD = [lfield("z", validators=[(7,)]), lfield("z", (20,)), lfield("z")[:8],
               lfield("z", (L.DICT_OF, None, map(Boom, [1]), None, []))]

CALLS = {
    "dump_ok": ("ok", lambda: DUMP.run(RECORDS, True)),
    "dump_fallback_late": ("fallback", lambda: DUMP.run(LATE, True)),
    "dump_fallback_tuple_length": ("fallback", lambda: DUMP.run(record(1, pair=[1, 2, 3]), False)),
    "dump_fallback_one_shot": ("fallback", lambda: DUMP.run(iter(LATE), True)),
    "dump_host_error": ("AttributeError", lambda: DUMP.run([*RECORDS, record(2, when="not a date")], True)),
    "dump_str_raises": ("Boom", lambda: DUMP.run([*RECORDS, record(2, tags=["a", Hooks("raise")])], True)),
    "dump_dict_cleared": ("RuntimeError", lambda: DUMP.run(record(2, meta=(lambda m: m.update(
        {Hooks("clear", m): 1}) or m)({"a": 1})), False)),
    "dump_interrupt": ("KeyboardInterrupt", lambda: HOOKED.run(RECORDS, True)),
    "dump_bad_many": ("TypeError", lambda: DUMP.run(RECORDS, 1)),
    "dumps_ok": ("ok", lambda: DUMP.run_json(RECORDS, True)),
    "dumps_refused_value": ("fallback", lambda: DUMP.run_json([*RECORDS, record(3, deep={"x": decimal.Decimal(1)})],
                                                              True)),
    "dumps_refused_key": ("fallback", lambda: DUMP.run_json(record(3, kids=[{"n": 1, "m": {1: 2}}]), False)),
    "dumps_int_text_limit": ("ValueError", lambda: DUMP.run_json(record(3, deep={"x": 10**5000}), False)),
    "dumps_host_error": ("TypeError", lambda: DUMP.run_json([*RECORDS, record(4, kids=[{"n": object()}])], True)),
    "dumps_bad_args": ("TypeError", lambda: DUMP.run_json(RECORDS)),
    "dump_construct_ok": ("ok", lambda: DumpSerializer(Rich.dump_payload(), MISSING)),
    **{f"dump_construct_error{i}": (None, lambda e=e: DumpSerializer((None, [*Rich.dump_payload()[1], e]), MISSING))
       for i, e in enumerate(BROKEN_DUMP)},
    "load_ok": ("ok", lambda: LOAD.run(DOCS, True, None)),
    "load_partial_names": ("ok", lambda: LOAD.run(DOCS, True, ("kids.s", "opt", "zz"))),
    "load_partial_all": ("ok", lambda: LOAD.run([{"kids": [{}]}], True, True)),
    "load_fallback_late": ("fallback", lambda: LOAD.run(LATE_DOCS, True, None)),
    "load_fallback_validator": ("fallback", lambda: LOAD.run(dict(DOCS[1], tags=["nope"]), False, None)),
    "load_fallback_partial_entry": ("fallback", lambda: LOAD.run(DOCS, True, ["kids.s", 1])),
    "load_fallback_delegate": ("fallback", lambda: DELEGATING.run({"a": list(range(50)), "b": 1}, False, None)),
    "load_cleared_mid_lookup": ("ok", lambda: LOAD.run((lambda d: d.update({Hooks("clear", d, "id"): 0}) or d)(
        dict(DOCS[0])), False, None)),
    "load_known_keys_interrupt": ("KeyboardInterrupt", lambda: KNOWN_RAISES.run(DOCS, True, None)),
    "load_partial_not_iterable": ("TypeError", lambda: LOAD.run({"kids": []}, False, 0)),
    "load_interrupt": ("KeyboardInterrupt", lambda: INTERRUPTING.run([{"a": "1", "b": 2}] * 3, True, None)),
    "load_bad_many": ("TypeError", lambda: LOAD.run(DOCS, None, None)),
    "loads_ok_bytes": ("ok", lambda: LOAD.run_json(TEXT.encode(), True, None)),
    "loads_ok_str": ("ok", lambda: LOAD.run_json(TEXT, True, ["kids.s"])),
    "loads_fallback_late": ("fallback", lambda: LOAD.run_json(json.dumps(LATE_DOCS), True, None)),
    "loads_refused_parse": ("fallback", lambda: LOAD.run_json(TEXT[:-3], True, None)),
    "loads_refused_depth": ("fallback", lambda: LOAD.run_json('{"x": ' + "[" * 5000 + "]" * 5000 + "}", False, None)),
    "loads_refused_type": ("fallback", lambda: LOAD.run_json(bytearray(TEXT.encode()), True, None)),
    "loads_surrogate_text": ("fallback", lambda: LOAD.run_json(TEXT[:-2] + ', "\ud800"]', True, None)),
    "loads_refused_string": ("fallback", lambda: LOAD.run_json(TEXT[:-2] + ', "\\ud800"}]', True, None)),
    "loads_known_keys_interrupt": ("KeyboardInterrupt", lambda: KNOWN_RAISES.run_json(TEXT, True, None)),
    "loads_interrupt": ("KeyboardInterrupt", lambda: INTERRUPTING.run_json('[{"a": 1, "b": 2}, {"a": 1}]', True, None)),
    "load_construct_ok": ("ok", lambda: LoadDeserializer(Rich.load_payload(), MISSING)),
    **{f"load_construct_error{i}": (None, lambda e=e: LoadDeserializer(lpayload(*Rich.load_payload()[3], e), MISSING))
       for i, e in enumerate(BROKEN_LOAD)},
}


@pytest.mark.parametrize("name", sorted(CALLS))
def test_repeated_calls_keep_nothing(name):
    want, fn = CALLS[name]
    end = Outcome(fn)  # so that each check covers the path it is named after
    got = end.kind if end.kind in ("ok", "fallback") else type(end.error).__name__
    assert got == want if want else got not in ("ok", "fallback", "KeyboardInterrupt"), got
    assert_no_leak(fn, rounds=2000, warmup=400, resident=2 * 1024 * 1024, watch=(MISSING, DOCS[0]["extra"]))

"""The fused load: run_json(text) against run(json.loads(text)) over records, every
element kind, partial selections, unknown-key policies and the failure paths."""

import json

import pytest
from corvane_core._core import AccelFallback

from tests.support.json_in_plans import FELL_BACK, deserializer, run_both, same
from tests.support.load_payloads import (
    DICT_COPY, IGNORE, INT, KEEP, PASS, REJECT, STRICT_INT, TEXT, bool_set, call, constant, delegate, dict_of, direct,
    float_, list_of, loader, nested, nested_key, plan, tuple_of,
)
from tests.support.leaks import assert_no_leak

ADDRESS = plan(direct("city", TEXT, required=True), direct("zip", TEXT, default="0000"))
PERSON = plan(
    direct("id", INT, required=True), direct("name", TEXT, default="anon"), direct("tags", list_of(TEXT), nullable=True),
    direct("home", nested(ADDRESS), attribute="address"), direct("score", float_(), nullable=True),
)
PEOPLE = deserializer(PERSON)


def fused(d, data, many=False, partial=None):
    try:
        return d.run_json(data, many, partial)
    except AccelFallback:
        return FELL_BACK


@pytest.mark.parametrize("doc, many, loads", [
    ('{"id": 1}', False, True), ('{"id": 1, "id": 2, "name": "x", "name": "y"}', False, True),
    ('[]', True, True), ('[{"id": 1}, {"id": 2, "tags": null, "home": {"city": "A"}}]', True, True),
    ('{"id": 1, "tags": ["a", "b"], "home": {"zip": "9", "city": "B"}, "score": 1}', False, True),
    ('{}', False, False), ('{}', True, False), ('[]', False, False), ('[1]', True, False),
    ('[{"id": 1}, 2]', True, False), ('[{"id": 1}, {}]', True, False), ('{"id": null}', False, False),
    ('{"id": 1, "tags": [null]}', False, False), ('{"id": 1, "home": []}', False, False),
    ('{"id": 1, "score": NaN}', False, False), ('{"id": true}', False, False), ('"x"', False, False),
    ('[{"id": 1}] ', True, True), ('[{"id": 1},]', True, False), ('[{"id": 1}', True, False),
    ('[{"id": 1}] []', True, False), (' \n[ {"id": 1} , {"id": 2} ]\t', True, True),
    ('{"\\u0069d": 1, "n\\u0061me": "\\u00e9\\/"}', False, True),  # escaped keys still match fields
])
def test_records(doc, many, loads):
    got = run_both(PEOPLE, doc, many)
    assert (got is not FELL_BACK) == loads
    assert same(run_both(PEOPLE, doc.encode(), many), got)


def kinds():
    class Color:
        def __class_getitem__(cls, item):
            return {"red": "R"}[item]

    return [
        PASS, TEXT, INT, STRICT_INT, float_(), float_(True), DICT_COPY, list_of(INT), list_of(PASS, True),
        tuple_of(INT, TEXT), tuple_of(), dict_of(), dict_of(TEXT, value=INT), dict_of(INT, value=PASS), constant("c"),
        bool_set(frozenset(["y", 1]), frozenset(["n", 0])), call(lambda v, a, b: ("called", v)),
        nested(plan(direct("x", INT))), nested(plan(direct("x", INT), many=True)),
        nested_key(plan(direct("k", INT)), "k"), nested_key(plan(direct("k", PASS)), "k", True), (6, Color, False, TEXT),
    ]


SAMPLES = [
    "0", "7", "-3", "1.5", "7.0", "-0.0", "1e400", "NaN", "true", "false", '"7"', '"red"', '"y"', '""', "[]", "[1]",
    '[1, "a"]', '[1, null]', '[null]', "{}", '{"x": 1}', '{"x": "1"}', '{"1": 2, "01": 3}', '{"x": 1, "x": 2}',
    '[{"x": 1}, {"x": 2}]', '[{"x": 1}, 2]', '{"k": 1}', '[1, 2, 3]', '{"a": null}',
]


@pytest.mark.parametrize("element", kinds(), ids=lambda e: f"kind{e[0]}")
def test_every_kind_on_every_node(element):
    """Each element kind, on each kind of value, agrees with the ordinary conversion;
    where the ordinary path succeeds on a plain shape the fused one must too."""
    d = loader(direct("v", element))
    for sample in SAMPLES:
        doc = '{"v": ' + sample + "}"
        got = run_both(d, doc)
        if got is FELL_BACK:
            try:
                d.run(json.loads(doc), False, None)
            except AccelFallback:
                continue
            # The tree walk refuses nothing that the ordinary conversion accepts.
            pytest.fail(f"{doc} fell back, but run(json.loads) loads it")


@pytest.mark.parametrize("partial, doc, loads", [
    (True, '{"home": {}}', True), (("id",), '{}', True), (("name",), '{}', False), ((), '{"id": 1}', True),
    (["id", "home.city"], '{"home": {}}', True), (("id", "home.zip"), '{"home": {}}', False),
    ({"id", "home.city", 3}, '{"home": {"city": "x"}}', False),  # a non-str entry falls back when derived
    ("id", '{}', True),  # `in` on a str is a substring test
])
def test_partial(partial, doc, loads):
    assert (run_both(PEOPLE, doc, False, partial) is not FELL_BACK) == loads


def test_partial_errors_pass_through_only_for_documents_that_parse():
    """A non-iterable selection raises TypeError, as run does; but json.loads would have
    refused a malformed document first, so then the call falls back."""
    good = '[{"id": 1}, {"id": 2}]'
    with pytest.raises(TypeError):
        PEOPLE.run(json.loads(good), True, 0)
    with pytest.raises(TypeError):
        PEOPLE.run_json(good, True, 0)
    for bad in ('[{"id": 1}, {"id": 2}', '[{"id": 1}, {"id": 2}] x', '[{"id": 1}, {"id": 2}, {"id": 01}]'):
        with pytest.raises(AccelFallback):
            PEOPLE.run_json(bad, True, 0)


@pytest.mark.parametrize("extra, doc, expected", [
    (IGNORE, '{"a": 1, "z": 2}', {"a": 1}), (KEEP, '{"z": 2, "a": 1, "y": [3], "z": 4}', {"a": 1, "z": 4, "y": [3]}),
    (REJECT, '{"a": 1}', {"a": 1}), (REJECT, '{"a": 1, "z": 2}', FELL_BACK), (KEEP, '{"b": 1}', {"b": 1}),
    (KEEP, '{"a": 1, "known": 2}', {"a": 1}),
])
def test_unknown_keys(extra, doc, expected):
    d = loader(direct("a"), direct("b", attribute="b"), extra=extra, known=frozenset(["a", "known"]))
    got = run_both(d, doc)
    assert got is FELL_BACK if expected is FELL_BACK else same(got, expected)


def test_known_keys_errors_and_consumable_containers():
    class Broken:
        def __contains__(self, key):
            raise LookupError(key)

    for known, exc in ((Broken(), LookupError), (iter(["a"]), AccelFallback)):
        d = loader(direct("a"), extra=REJECT, known=known)
        with pytest.raises(exc):
            d.run_json('{"a": 1}', False, None)


def test_known_keys_changed_by_host_code_are_seen():
    """A set may change while records load (only a frozenset's answers are reused)."""
    known = {"a", "b"}
    calls = []

    def convert(v, x, y):
        calls.append(v)
        if len(calls) == 2:
            known.discard("b")
        return v

    d = loader(direct("a", call(convert)), extra=REJECT, known=known)
    assert fused(d, '[{"a": 1, "b": 0}, {"a": 2, "b": 0}]', True) is FELL_BACK and calls == [1, 2]


@pytest.mark.parametrize("fields, doc, loads", [
    ((direct("a", attribute="x.y"), direct("b", attribute="x.z")), '{"a": 1, "b": 2}', True),
    ((direct("a", attribute="x"), direct("b", attribute="x.y")), '{"a": 1, "b": 2}', False),
    ((direct("a", attribute="x"), direct("b", attribute="y"), direct("c", attribute="x")), '{"b": 1, "c": 2}', True),
    ((direct("a", attribute="x"), direct("b", attribute="x")), '{"a": 1, "b": 2}', True),
    ((direct("a"), direct("a", attribute="a2", default=5)), '{"a": 1}', True),
    ((direct("a"), direct("b"), direct("c", default=3)), '{"b": 1, "q": 0}', True),
    ((direct("a"), direct("b", attribute="q")), '{"a": 1, "q": 0}', True),
])
def test_attributes_and_shared_keys(fields, doc, loads):
    """Result key order with dotted, repeated and absent attributes (run_both compares it)."""
    d = loader(*fields, extra=KEEP, known=frozenset(["a", "b", "c"]))
    assert (run_both(d, doc) is not FELL_BACK) == loads


def _clear(v, *a):
    if isinstance(v, (dict, list)):
        v.clear()
    return v


@pytest.mark.parametrize("fields, extra, doc, loads", [
    ((direct("n", nested(plan(direct("x")))), direct("n", call(_clear), attribute="m")), KEEP, '{"n": {"x": 1}}', False),
    ((direct("n", call(_clear)), direct("n", nested(plan(direct("x"))), attribute="m")), IGNORE, '{"n": {"x": 1}}',
     False),
    ((direct("n", call(_clear), attribute="m"),), KEEP, '{"n": {"x": 1}, "n": [1]}', False),
    ((direct("n", call(_clear)), direct("n", PASS, attribute="m")), IGNORE, '{"n": [1, 2]}', False),
    ((direct("n", call(_clear)), direct("n", PASS, attribute="m")), IGNORE, '{"n": 5}', True),
    ((direct("n", call(_clear), attribute="m"),), KEEP, '{"n": "s"}', True),
])
def test_value_read_twice_is_one_object(fields, extra, doc, loads):
    """json.loads gives one object for a key that two fields (or a field and the
    unknown-key pass) read; host code clearing it is seen by both readers. Scalars
    cannot be changed, so they still load on the tree."""
    d = loader(*fields, extra=extra, known=frozenset())
    assert (run_both(d, doc) is not FELL_BACK) == loads


def test_null_skips_conversion_and_validators():
    checks = []
    d = loader(direct("a", INT, nullable=True, validators=[(6, checks.append)]))
    assert d.run_json('{"a": null}', False, None) == {"a": None} and checks == []
    assert d.run_json('{"a": 3}', False, None) == {"a": 3} and checks == [3]
    assert fused(loader(direct("a", INT, validators=[(0, 5, None, True, True)])), '{"a": 3}') is FELL_BACK


def test_repeated_keys_under_dict_of_convert_only_the_surviving_pair():
    """json.loads keeps "1": "c" (at the place of the first "1") and "01": "b"; with an
    Int key element both become 1, and the later of the two survives."""
    d = loader(direct("m", dict_of(INT, value=TEXT)))
    doc = '{"m": {"1": "a", "01": "b", "1": "c"}}'
    assert d.run(json.loads(doc), False, None) == {"m": {1: "b"}}
    assert run_both(d, doc) == {"m": {1: "b"}}
    seen = []
    d = loader(direct("m", dict_of(value=call(lambda v, a, b: seen.append(v) or v))))
    assert d.run_json('{"m": {"x": 1, "y": 2, "x": 3}}', False, None) == {"m": {"x": 3, "y": 2}}
    assert seen == [3, 2]


def test_input_key_without_utf8_form_matches_nothing():
    d = loader(direct("\ud800", attribute="s", default="absent"), direct("a"))
    assert run_both(d, '{"a": 1, "\\u00e9": 2}') == {"s": "absent", "a": 1}


class SubStr(str):
    def __hash__(self):
        return 0


@pytest.mark.parametrize("fields", [
    (direct("a"), delegate("b", object())), (direct(SubStr("a")),),
])
def test_shapes_the_walk_leaves_to_the_host(fields):
    assert fused(loader(*fields), '{"a": 1, "b": 2}') is FELL_BACK


def test_interrupts_pass_through_and_reentrant_calls_work():
    def interrupt(value):
        raise KeyboardInterrupt

    with pytest.raises(KeyboardInterrupt):
        loader(direct("a", validators=[(6, interrupt)])).run_json('[{"a": 1}, ', True, None)

    inner = loader(direct("x", INT))
    outer = loader(direct("a", call(lambda v, a, b: inner.run_json(v, True, None))), direct("b", INT))
    doc = '{"a": "[{\\"x\\": 1}, {\\"x\\": 2}]", "b": 3}'
    assert outer.run_json(doc, False, None) == {"a": [{"x": 1}, {"x": 2}], "b": 3}


def test_wide_and_long_documents():
    d = loader(*[direct(f"k{i}", INT) for i in range(100)], extra=KEEP, known=frozenset())
    record = {f"k{i}": i for i in reversed(range(120))}
    doc = json.dumps([record, dict(list(record.items())[::2])] * 50)
    got = run_both(d, doc, True)
    assert got is not FELL_BACK and len(got) == 100


@pytest.mark.parametrize("doc", [
    '[{"id": 1, "tags": ["a"], "home": {"city": "x"}}, {"id": 2, "score": 2.5}]',  # success
    '[{"id": 1}, {"id": 2}',  # refused parse after a loaded record
    '[{"id": 1}, {"name": "no id"}]',  # fallback in the walk
    '[{"id": 1}, {"id": 2, "tags": "\\ud800"}]',  # refused string
])
def test_no_leaks(doc):
    watch = (PERSON[3][0][1],)  # an input_key the walk compares against
    for data in (doc, doc.encode()):
        assert_no_leak(lambda: fused(PEOPLE, data, True), rounds=400, warmup=50, watch=watch)

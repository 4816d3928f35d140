"""Differential properties: generated documents and schemas through run_json against
run(json.loads(...)); random and mutated bytes must agree or fall back."""

import json
import os

from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

from tests.support.json_in_plans import (
    DICT_COPY, FELL_BACK, INT, KEEP, PASS, STRICT_INT, TEXT, constant, dict_of, field, float_, list_of, loader, nested,
    plan, run_both, tuple_of,
)

EXAMPLES = int(os.environ.get("CORVANE_HYPOTHESIS_EXAMPLES", "60"))
SETTINGS = settings(max_examples=EXAMPLES, deadline=None, suppress_health_check=[HealthCheck.too_slow])

KEYS = st.sampled_from(["a", "b", "c", "\u00e9", "", "a\u0000", "\U0001f600", "x" * 9, "id"])
EDGE_INTS = st.sampled_from([0, -1, 2**53 + 1, 10**18 - 1, -(10**18) + 1, 10**18, 2**63, -(2**63) - 1])
SCALARS = st.one_of(
    st.none(), st.booleans(), st.integers(-(10**20), 10**20), EDGE_INTS, st.floats(allow_nan=True),
    st.floats(min_value=-1e-300, max_value=1e-300), st.text(max_size=12), st.text(st.characters(), max_size=4),
)
# Objects are pair lists, so that documents can repeat keys.
VALUES = st.recursive(
    SCALARS,
    lambda inner: st.one_of(
        st.lists(inner, max_size=4).map(lambda items: ("arr", items)),
        st.lists(st.tuples(KEYS, inner), max_size=5).map(lambda pairs: ("obj", pairs)),
    ),
    max_leaves=20,
)
SPACE = st.sampled_from(["", "", " ", "\n", "\t", "\r\n  "])


@st.composite
def documents(draw, value=VALUES):
    ascii_only = draw(st.booleans())

    def ws():
        return draw(SPACE)

    def render(v):
        if isinstance(v, tuple) and v and v[0] == "arr":
            return "[" + ws() + ("," + ws()).join(render(x) + ws() for x in v[1]) + "]"
        if isinstance(v, tuple) and v and v[0] == "obj":
            pairs = (json.dumps(k, ensure_ascii=ascii_only) + ws() + ":" + ws() + render(x) + ws() for k, x in v[1])
            return "{" + ws() + ("," + ws()).join(pairs) + "}"
        return json.dumps(v, ensure_ascii=ascii_only)

    return ws() + render(draw(value)) + ws()


def leaf_elements():
    return st.sampled_from([PASS, TEXT, INT, STRICT_INT, float_(False), float_(True), DICT_COPY, constant(0)])


def elements():
    return st.recursive(
        leaf_elements(),
        lambda inner: st.one_of(
            st.tuples(inner, st.booleans()).map(lambda a: list_of(*a)),
            st.tuples(st.sampled_from([None, TEXT, INT]), st.one_of(st.none(), inner)).map(lambda a: dict_of(*a)),
            st.lists(inner, max_size=3).map(lambda items: tuple_of(*items)),
            st.lists(st.tuples(KEYS, inner, st.booleans()), max_size=3).map(
                lambda fs: nested(plan(*[field(k, e, nullable=n) for k, e, n in fs]))),
        ),
        max_leaves=6,
    )


PLANS = st.builds(
    lambda fs, extra: plan(*[field(k, e, nullable=n, default=d) for k, e, n, d in fs], extra=extra),
    st.lists(st.tuples(KEYS, elements(), st.booleans(), st.sampled_from([None, 0, "d"])), min_size=1),
    st.sampled_from([0, 1, 1, 2, 2]),
)

def conforming(element):
    """Values that the element mostly converts, with the odd stray value."""
    tag = element[0]
    if tag == 1:
        fit = st.text(max_size=6)
    elif tag in (2, 13):
        fit = st.one_of(st.integers(-(10**18) + 1, 10**18 - 1), EDGE_INTS)
    elif tag == 3:
        fit = st.floats(allow_nan=element[1], allow_infinity=element[1])
    elif tag == 10:
        fit = RECORDS
    elif tag == 5:
        item = conforming(element[1])
        fit = st.lists(st.one_of(item, st.none()) if element[2] else item, max_size=3).map(lambda x: ("arr", x))
    elif tag == 14:
        keys = st.integers(-5, 50).map(str) if element[1] == INT else KEYS
        values = conforming(element[3]) if element[3] else VALUES
        fit = st.lists(st.tuples(keys, values), max_size=3).map(lambda x: ("obj", x))
    elif tag == 15:
        fit = st.tuples(*[conforming(e) for e in element[1]]).map(lambda x: ("arr", list(x)))
    elif tag == 4:
        fit = record_for(element[1])
    else:
        fit = VALUES
    return st.one_of(*[fit] * 7, VALUES)


@st.composite
def record_for(draw, payload):
    pairs = []
    for f in payload[3]:
        if draw(st.integers(0, 3)):
            value = draw(st.one_of(st.none(), conforming(f[7])) if f[6] else conforming(f[7]))
            pairs.append((f[1], value))
    pairs += draw(st.lists(st.tuples(KEYS, VALUES), max_size=1))
    return ("obj", draw(st.permutations(pairs)) if draw(st.booleans()) else pairs)


RECORDS = st.lists(st.tuples(KEYS, VALUES), max_size=8).map(lambda pairs: ("obj", pairs))


@SETTINGS
@given(PLANS, st.data())
def test_generated_schemas_and_records(payload, data):
    d = loader(payload)
    records = data.draw(st.lists(record_for(payload), min_size=1, max_size=3))
    doc = data.draw(documents(st.just(("arr", records))))
    for text in (doc, doc.encode("utf-8")):
        run_both(d, text, True)
    for r in records:
        run_both(d, data.draw(documents(st.just(r))))


WHOLE = loader(plan(extra=KEEP, known=frozenset()))
VALUE = loader(plan(field("v", PASS, nullable=True)))


def beyond_contract(v):
    """Whether a generated value holds what the parse refuses: long integers, lone surrogates."""
    if isinstance(v, bool) or v is None or isinstance(v, float):
        return False
    if isinstance(v, int):
        return abs(v) >= 10**18
    if isinstance(v, str):
        return any(0xD800 <= ord(c) <= 0xDFFF for c in v)
    if v[0] == "arr":
        return any(beyond_contract(x) for x in v[1])
    return any(beyond_contract(k) or beyond_contract(x) for k, x in v[1])


@SETTINGS
@given(VALUES, st.data())
def test_generated_documents_load_as_json_loads_does(value, data):
    doc = data.draw(documents(st.just(value)))
    got = run_both(VALUE, '{"v": ' + doc + "}")
    run_both(WHOLE, doc)
    if got is FELL_BACK:
        assert beyond_contract(value), f"{doc!r} fell back"


@st.composite
def mutated(draw):
    raw = bytearray(draw(documents()).encode("utf-8"))
    for _ in range(draw(st.integers(1, 4))):
        i = draw(st.integers(0, len(raw)))
        op = draw(st.sampled_from(["set", "insert", "delete", "cut"]))
        byte = draw(st.one_of(st.integers(0, 255), st.sampled_from(list(b'{}[]",:\\0-.eE+ tfnu\xc3\xed\xf4'))))
        if op == "set" and i < len(raw):
            raw[i] = byte
        elif op == "insert":
            raw.insert(i, byte)
        elif op == "delete" and i < len(raw):
            del raw[i]
        elif op == "cut":
            del raw[i:]
    return bytes(raw)


@SETTINGS
@given(st.one_of(mutated(), st.binary(max_size=40)))
def test_random_and_mutated_bytes_agree_or_fall_back(raw):
    for d, doc in ((WHOLE, raw), (VALUE, b'{"v": ' + raw + b"}")):
        run_both(d, doc)
        try:
            text = doc.decode("utf-8")
        except UnicodeDecodeError:
            continue
        run_both(d, text)

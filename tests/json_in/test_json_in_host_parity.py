"""run_json against the host's own pure-Python load of json.loads(text): equal results,
and a fallback wherever the host reports an error."""

import json

from hypothesis import given, settings, strategies as st

from corvane_core import _pure
from corvane_core._core import AccelFallback, LoadDeserializer
from corvane_core._missing import MISSING
from tests.support.json_in_docs import EXAMPLES, VALUES, documents
from tests.support.json_in_plans import same
from tests.support.parity_schema import UNKNOWN, Record, outcome


ITEM = st.lists(st.sampled_from([("label", "x"), ("label", "yz"), ("qty", 3), ("qty", 11)]), max_size=3).map(
    lambda pairs: ("obj", pairs))
VALID = st.sampled_from([
    ("name", "ab"), ("name", "abcd"), ("n", 7), ("n", "7"), ("n", 1.5), ("ratio", 2.5), ("ratio", None),
    ("on", True), ("on", "no"), ("on", 1), ("color", "RED"), ("color", "GREEN"), ("nums", ("arr", [1, 2])),
    ("pair", ("arr", [1, "a"])), ("pair", ("arr", [1])), ("tags", ("obj", [("a", 1), ("b", 2), ("a", 3)])),
    ("where", 1), ("also", 2), ("extra", 0),
])
FIELD = st.one_of(VALID, VALID, st.tuples(st.just("item"), ITEM),
                  st.tuples(st.just("items"), st.lists(ITEM, max_size=2).map(lambda x: ("arr", x))),
                  st.tuples(st.sampled_from(["name", "n", "item", "where"]), VALUES))
RECORD = st.lists(FIELD, max_size=6).map(lambda pairs: ("obj", pairs))


@settings(max_examples=EXAMPLES, deadline=None)
@given(st.one_of(RECORD, st.lists(RECORD, max_size=3).map(lambda x: ("arr", x))), st.data(),
       st.sampled_from(UNKNOWN),
       st.sampled_from([None, True, ("name", "item.label")]))
def test_run_json_matches_the_pure_load(value, data, unknown, partial):
    text = data.draw(documents(st.just(value)))
    many = value[0] == "arr"
    plan = LoadDeserializer(Record.load_payload(unknown), MISSING)
    expected = outcome(lambda: _pure.load(Record, json.loads(text), many, partial, unknown))
    try:
        got = plan.run_json(text, many, partial)
    except AccelFallback:
        return
    assert expected != "error", f"{text!r} loaded, but the host reports an error"
    assert same(got, expected)

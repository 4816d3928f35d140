"""The plan against the host's own pure-Python load: equal results, and a fallback
exactly where the host reports an error."""

from hypothesis import given, settings, strategies as st

from corvane_core import _pure
from corvane_core._core import LoadDeserializer
from corvane_core._missing import MISSING
from tests.support.parity_schema import UNKNOWN, Record, outcome


scalars = st.one_of(st.none(), st.booleans(), st.integers(-3, 12), st.floats(allow_nan=False, width=32),
                    st.sampled_from(["", "a", "7", "RED", "abcd", "1.5", "true"]))
values = st.recursive(scalars, lambda inner: st.one_of(st.lists(inner, max_size=3),
                                                     st.dictionaries(st.sampled_from(["label", "qty", "k"]), inner,
                                                                     max_size=3)), max_leaves=6)
item = st.fixed_dictionaries({"label": st.sampled_from(["x", "yz"])}, optional={"qty": st.integers(-1, 11)})
VALID = {
    "name": st.sampled_from(["", "ab", "abc"]), "n": st.integers(), "ratio": st.floats(allow_nan=False),
    "on": st.sampled_from([True, False, 1, "true", "no"]), "color": st.sampled_from(["RED", "BLUE"]),
    "item": item, "items": st.lists(item, max_size=3), "nums": st.lists(st.integers(), max_size=3),
    "pair": st.tuples(st.integers(), st.text(max_size=2)), "tags": st.dictionaries(st.text(max_size=2), st.integers()),
    "where": values, "also": values, "extra": values,
}
# Mostly valid values, so that loads succeed often, with garbage mixed in.
records = st.fixed_dictionaries({}, optional={
    k: st.integers(0, 9).flatmap(lambda i, s=s: values if i == 9 else s) for k, s in VALID.items()})
partials = st.one_of(st.none(), st.booleans(),
                     st.lists(st.sampled_from(["name", "item", "item.label", "items.qty", "n", "x.y"]),
                              max_size=3).map(tuple))


@settings(max_examples=150, deadline=None)
@given(st.one_of(records, st.lists(records, max_size=3)), partials,
       st.sampled_from(UNKNOWN))
def test_plan_matches_the_pure_load(data, partial, unknown):
    many = isinstance(data, list)
    plan = LoadDeserializer(Record.load_payload(unknown), MISSING)
    expected = outcome(lambda: _pure.load(Record, data, many, partial, unknown))
    got = outcome(lambda: plan.run(data, many, partial))
    assert got == expected
    assert repr(got) == repr(expected)  # same types all the way down (1 vs 1.0 vs True)

"""Generated JSON documents for the property tests. Objects are drawn as pair lists,
("obj", [(key, value), ...]), so that a document can repeat a key; arrays as
("arr", [...]); everything else is a scalar that json.dumps writes."""

import json
import os

from hypothesis import HealthCheck, settings
from hypothesis import strategies as st

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

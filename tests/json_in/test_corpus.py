"""The public JSON conformance files: y_ must be accepted, n_ refused, i_ either. Each
file loads as the value of a field and, when its root is an object, as it is; whatever
loads must equal the pure load of json.loads(...)."""

import json
import re

import pytest

from tests.json_in.test_json_in import VALUE, WHOLE
from tests.support.parity import check_loads, shared_dir

CORPUS = shared_dir("CORVANE_JSONTESTSUITE", "jsontestsuite", "test_parsing")
CORPUS = CORPUS / "test_parsing" if CORPUS else None
FILES = sorted(p.name for p in CORPUS.iterdir() if p.suffix == ".json") if CORPUS else []
pytestmark = pytest.mark.skipif(CORPUS is None, reason="JSON conformance corpus not found beside the checkout")

# json.loads takes these three, and so does our parse.
NON_FINITE = {"n_number_NaN.json", "n_number_infinity.json", "n_number_minus_infinity.json"}


def fallback_reason(raw):
    """Why a document may legitimately go back to the host, or None."""
    text = raw.decode("utf-8", "replace")
    if re.search(r"(?<![.\deE+-])-?\d{19,}", text):
        return "integer part of 19+ digits"
    if max(text.count("["), text.count("{")) >= 199:
        return "nesting deeper than 200"
    return None


@pytest.mark.parametrize("name", FILES)
def test_conformance_file(name):
    raw = (CORPUS / name).read_bytes()
    docs = [(VALUE, b'{"v": ' + raw + b"}")]
    try:
        if isinstance(json.loads(raw), dict):
            docs.append((WHOLE, raw))
    except (ValueError, RecursionError):
        pass
    kinds = set()
    for cls, doc in docs:
        kinds.add(check_loads(cls, doc).kind)
        try:
            kinds.add(check_loads(cls, doc.decode("utf-8")).kind)
        except UnicodeDecodeError:
            pass
    if name.startswith("y_") and "fallback" in kinds:
        assert fallback_reason(raw), f"{name} fell back without a known reason"
    elif name in NON_FINITE:
        assert kinds == {"ok"}
    elif name.startswith("n_"):
        assert kinds == {"fallback"}

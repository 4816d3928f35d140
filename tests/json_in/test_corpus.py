"""The public JSON conformance files: y_ must be accepted by a conforming parser, n_
refused, i_ either. Each file is loaded as the value of a field and, when its root is an
object, as it is; whatever succeeds must equal run(json.loads(...))."""

import json
import re

import pytest
from corvane_core._core import AccelFallback

from tests.conftest import jsontestsuite_dir
from tests.support.json_in_plans import FELL_BACK, KEEP, PASS, field, loader, plan, run_both

CORPUS = jsontestsuite_dir()
FILES = sorted(p.name for p in CORPUS.iterdir() if p.suffix == ".json") if CORPUS else []
pytestmark = pytest.mark.skipif(CORPUS is None, reason="JSON conformance corpus not found beside the checkout")

VALUE = loader(plan(field("v", PASS, nullable=True)))
WHOLE = loader(plan(extra=KEEP, known=frozenset()))

# json.loads takes these three, and so does our parse.
NON_FINITE = {"n_number_NaN.json", "n_number_infinity.json", "n_number_minus_infinity.json"}


def variants(raw):
    """(plan, document) pairs for one file's bytes, as bytes and as str where they decode."""
    docs = [(VALUE, b'{"v": ' + raw + b"}")]
    try:
        if isinstance(json.loads(raw), dict):
            docs.append((WHOLE, raw))
    except (ValueError, RecursionError):
        pass
    out = []
    for d, doc in docs:
        out.append((d, doc))
        try:
            out.append((d, doc.decode("utf-8")))
        except UnicodeDecodeError:
            pass
    return out


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
    results = [run_both(d, doc) for d, doc in variants(raw)]  # each equal to json.loads, or a fallback
    if name.startswith("y_"):
        if FELL_BACK in results:
            assert fallback_reason(raw), f"{name} fell back without a known reason"
    elif name in NON_FINITE:
        assert FELL_BACK not in results
    elif name.startswith("n_"):
        with pytest.raises(AccelFallback):
            VALUE.run_json(b'{"v": ' + raw + b"}", False, None)


def test_corpus_counts():
    """The tally the closing note reports: every y_ file loads."""
    fell_back = []
    for name in FILES:
        if name.startswith("y_"):
            raw = (CORPUS / name).read_bytes()
            if any(run_both(d, doc) is FELL_BACK for d, doc in variants(raw)):
                fell_back.append((name, fallback_reason(raw)))
    assert fell_back == []

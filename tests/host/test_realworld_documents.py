"""The three real-world documents go through the benchmark schemas and back exactly, on
the accelerated plans and the pure path alike, with nothing falling back."""

import json
import sys

import pytest

from corvane_core import _pure
from corvane_core.schema import EXCLUDE, INCLUDE
from tests.support.parity import ROOT

sys.path.insert(0, str(ROOT / "benchmarks"))
import realworld_schemas as rs  # noqa: E402

FOLDER = rs.realworld_dir()


def exact(value):
    # Tells 1 from 1.0 and True from 1, which == does not.
    return json.dumps(value, sort_keys=True)


@pytest.mark.slow
@pytest.mark.skipif(FOLDER is None, reason="no real-world documents: set CORVANE_REALWORLD")
@pytest.mark.parametrize("name", sorted(rs.DOCUMENTS))
def test_document_round_trips(name):
    doc = rs.DOCUMENTS[name]
    raw = doc.raw(FOLDER)
    data, objs = rs.load_records(doc, FOLDER)
    assert data == doc.records(json.loads(raw))  # every key declared, none dropped
    dump_plan = doc.record.plans()[0]
    assert exact(dump_plan.run(objs, doc.many)) == exact(data)
    text = dump_plan.run_json(objs, doc.many)
    assert text == json.dumps(data) == json.dumps(_pure.dump(doc.record, objs, doc.many))
    for policy in (EXCLUDE, INCLUDE):
        assert exact(doc.record.plans(policy)[1].run_json(text, doc.many, None)) == exact(data)
        whole = doc.document.plans(policy)[1].run_json(raw, False, None)
        assert exact(whole) == exact(_pure.load(doc.document, json.loads(raw), False, None, policy))

"""The demo: a tiny run in both output modes, and the checks that make its figures
trustworthy (the two paths must agree, the peers must produce the same data)."""

import io
import json
import sys

import pytest

from corvane_core import demo
from corvane_core import fields as f

JOBS = [job for job, _ in demo.JOBS]
TINY = ["--records", "25", "--repeat", "1"]


class Terminal(io.StringIO):
    def isatty(self):
        return True


def run_json(capsys, monkeypatch, *extra, peers=demo.PEERS):
    monkeypatch.setattr(sys, "stderr", Terminal())
    code = demo.main([*TINY, "--json", *extra], peers=peers)
    return code, json.loads(capsys.readouterr().out), sys.stderr.getvalue()


def test_json_report(capsys, monkeypatch):
    code, report, err = run_json(capsys, monkeypatch, "--gc")
    assert code == 0 and err == ""  # no progress line under --json, even on a terminal
    assert report["agree"] is True and report["records"] == 25 and report["collector"] is True
    names = set(report["contenders"])
    assert {"corvane_core", "pure Python"} <= names
    assert names.isdisjoint(report["absent"])
    for job in JOBS:
        results = report["jobs"][job]["results"]
        assert {"corvane_core", "pure Python"} <= set(results) <= names
        assert all(r["records_per_s"] > 0 and r["best_s"] <= r["median_s"] for r in results.values())
        assert set(report["jobs"][job]["speedup"]) == set(results) - {"corvane_core"}
    # Every accelerated call of the timed round ran on the plan.
    assert report["fallbacks"] == {op: {"calls": 1, "fallbacks": 0} for op in JOBS}
    # Installed peers do the same work, or their columns would mislead.
    assert report["differing_peers"] == {}


def test_text_report(capsys, monkeypatch):
    monkeypatch.setattr(sys, "stderr", Terminal())
    assert demo.main(TINY) == 0
    out, shown = capsys.readouterr().out, sys.stderr.getvalue()
    assert "\rround 1/1: JSON text -> validated dicts, corvane_core" in shown
    # The progress line is wiped before the report, leaving the cursor at its start.
    assert shown.endswith("\r") and shown.rsplit("\r", 2)[1].strip() == ""
    assert "both paths agree on all four jobs" in out
    for _, title in demo.JOBS:
        assert sum(line.startswith(title) for line in out.splitlines()) == 2  # speed and ratio rows
    assert "fell back to the pure path: dump 0/1, dumps 0/1, load 0/1, loads 0/1" in out


@pytest.mark.parametrize("cls, method, broken, jobs", [
    (f.Float, "dump_value", lambda self, value: float(value) + 1, ["dump", "dumps"]),
    (f.Str, "load_value", lambda self, value, partial: value.upper(), ["load", "loads"]),
    # A type change that == alone would let through: 1 == True.
    (f.Bool, "load_value", lambda self, value, partial: int(value), ["load", "loads"]),
])
@pytest.mark.parametrize("as_json", [False, True])
def test_disagreement_fails_the_run(capsys, monkeypatch, cls, method, broken, jobs, as_json):
    monkeypatch.setattr(cls, method, broken)
    code = demo.main([*TINY, *(["--json"] if as_json else [])])
    out = capsys.readouterr()
    assert code == 1
    assert f"disagree on: {', '.join(jobs)}" in out.err
    if as_json:
        assert json.loads(out.out) == {"records": 25, "agree": False, "disagree": jobs}
    else:
        assert out.out == ""


def test_missing_and_mismatched_peers(capsys, monkeypatch):
    def absent(batch, pure):
        raise ImportError("not here")

    def wrong(batch, pure):
        # Drops the last record: the figure would be for less work than ours.
        dumped = demo.OrderSchema(many=True).dump(batch.objects)
        return demo.Contender("lossy", "0.1", {"dump": lambda: dumped[:-1]}, "drops a record")

    peers = (("gone", absent), ("lossy", wrong))
    code, report, _ = run_json(capsys, monkeypatch, peers=peers)
    assert code == 0
    assert report["absent"] == ["gone"] and "gone" not in report["contenders"]
    assert report["differing_peers"] == {"lossy": ["dump"]}
    assert set(report["jobs"]["dump"]["speedup"]) == {"pure Python", "lossy"}
    assert "lossy" not in report["jobs"]["load"]["results"]

    assert demo.main(TINY, peers=peers) == 0
    out = capsys.readouterr().out
    assert "not installed, left out: gone" in out
    assert "warning: lossy gave different data on dump" in out

"""The demo: both paths agree on its batch, nothing falls back, every job is timed."""

import json

from corvane_core import _demo


def test_demo_reports_agreement_and_all_four_jobs(capsys):
    assert _demo.main(["--batch", "30", "--repeats", "1", "--json", "--no-progress"]) == 0
    report = json.loads(capsys.readouterr().out)
    assert all(report["agreement"].values())
    assert sum(report["fallbacks"].values()) == 0 and sum(report["calls"].values()) == 4
    assert list(report["jobs"]) == ["objects -> dicts", "objects -> JSON", "dicts -> validated", "JSON -> validated"]
    for rows in report["jobs"].values():
        assert rows[0]["implementation"] == "corvane_core" and rows[0]["corvane_speedup"] == 1.0
        assert rows[1]["implementation"] == "pure Python"
        assert all(row["records_per_second"] > 0 for row in rows)


def test_generated_batches_are_reproducible_and_valid():
    assert _demo.generate(5, seed=3) == _demo.generate(5, seed=3) != _demo.generate(5, seed=4)
    schema = _demo.OrderSchema(many=True)
    dumped = schema.dump(_demo.generate(50))
    assert schema.load(dumped) == _demo.OrderSchema(many=True, accelerate=False).load(dumped)
    assert schema.stats.total_fallbacks == 0

"""The fuzz harnesses as ordinary tests: drawn cases from random bytes, and a replay
of each saved corpus, which holds every input that once failed."""

import importlib
import pathlib
import random
import sys

import pytest

FUZZ = pathlib.Path(__file__).resolve().parents[2] / "fuzz"
HARNESSES = ["dump_payload", "load_payload", "dump_run", "load_run", "load_json"]


@pytest.mark.parametrize("name", HARNESSES)
def test_harness_on_drawn_cases_and_its_corpus(name, monkeypatch):
    monkeypatch.syspath_prepend(str(FUZZ))
    run = importlib.import_module(name).TestOneInput
    rng = random.Random(name)
    for _ in range(30):
        run(bytes(rng.randrange(256) for _ in range(rng.randrange(1, 600))))
    files = sorted((FUZZ / "corpus" / name).iterdir())
    assert files
    for path in files:
        run(path.read_bytes())

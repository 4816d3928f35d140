"""The fuzz harnesses as ordinary tests, on every interpreter: a fixed set of drawn
cases per harness (the reference interpreters are the oracle), and, where the fuzzing
engine's provider is installed, a replay of the saved corpus, which holds every input
that once failed."""

import importlib
import pathlib
import random
import sys

import pytest

FUZZ = pathlib.Path(__file__).resolve().parents[2] / "fuzz"
HARNESSES = ["dump_payload", "load_payload", "dump_run", "load_run", "load_json"]
CASES = 400


@pytest.fixture(scope="module")
def harness():
    sys.path.insert(0, str(FUZZ))
    try:
        yield lambda name: importlib.import_module(name)
    finally:
        sys.path.remove(str(FUZZ))


@pytest.mark.parametrize("name", HARNESSES)
def test_drawn_cases_agree_with_the_reference(name, harness):
    run = harness(name).TestOneInput
    rng = random.Random(name)
    for _ in range(CASES):
        run(bytes(rng.randrange(256) for _ in range(rng.randrange(1, 300))))


@pytest.mark.parametrize("name", HARNESSES)
def test_saved_corpus_replays(name, harness):
    pytest.importorskip("atheris")  # the corpus is in the engine provider's encoding
    run = harness(name).TestOneInput
    files = sorted((FUZZ / "corpus" / name).iterdir())
    assert files
    for path in files:
        run(path.read_bytes())

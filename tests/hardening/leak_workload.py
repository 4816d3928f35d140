"""A representative workload for the leak checkers: every public call on each of its
paths, then drawn cases of the fuzz harnesses, then everything dropped before exit, so
that whatever is still allocated at exit was lost, not merely kept.

    python tests/hardening/leak_workload.py [ROUNDS]
"""

import gc
import importlib
import pathlib
import random
import sys

ROOT = pathlib.Path(__file__).resolve().parents[2]
sys.path[:0] = [str(ROOT), str(ROOT / "fuzz")]


def main(rounds):
    calls = importlib.import_module("tests.hardening.test_leaks").CALLS
    rng = random.Random(8)
    for _ in range(rounds):
        for _, fn in calls.values():
            try:
                fn()
            except BaseException:
                pass
    for name in ("dump_payload", "load_payload", "dump_run", "load_run", "load_json"):
        harness = importlib.import_module(name).TestOneInput
        for _ in range(rounds * 10):
            try:
                harness(bytes(rng.randrange(256) for _ in range(rng.randrange(1, 300))))
            except BaseException:
                pass
    del calls, harness
    for name in [m for m in sys.modules if m.startswith(("tests", "dump_", "load_", "kit"))]:
        del sys.modules[name]
    gc.collect()
    gc.collect()
    print("workload done")


if __name__ == "__main__":
    main(int(sys.argv[1]) if len(sys.argv) > 1 else 5)

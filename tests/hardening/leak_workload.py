"""A representative workload for the leak checkers: every public call on each of its
paths, then drawn cases from the fuzz harnesses, then everything dropped before exit,
so that whatever is still allocated at exit was lost, not merely kept.

    python tests/hardening/leak_workload.py [ROUNDS]
"""

import gc
import pathlib
import random
import sys

ROOT = pathlib.Path(__file__).resolve().parents[2]
sys.path.insert(0, str(ROOT))
sys.path.insert(1, str(ROOT / "fuzz"))
# The harnesses then draw with their plain provider: the fuzzing engine's own module
# keeps allocations until exit that would bury ours.
sys.modules["atheris"] = None


def main(rounds):
    from tests.hardening import test_leaks as calls

    for _ in range(rounds):
        for _, fn in calls.CALLS.values():
            try:
                fn()
            except BaseException:
                pass
    import dump_run
    import load_json
    import load_payload
    import load_run
    import dump_payload

    rng = random.Random(8)
    for harness in (dump_payload, load_payload, dump_run, load_run, load_json):
        for _ in range(rounds * 20):
            try:
                harness.TestOneInput(bytes(rng.randrange(256) for _ in range(rng.randrange(1, 300))))
            except BaseException:
                pass
    for name in [m for m in sys.modules if m.startswith(("tests.", "dump_", "load_", "plans", "kit", "reference"))]:
        del sys.modules[name]
    del calls, harness, dump_run, load_json, load_payload, load_run, dump_payload
    gc.collect()
    gc.collect()
    print("workload done")


if __name__ == "__main__":
    main(int(sys.argv[1]) if len(sys.argv) > 1 else 5)

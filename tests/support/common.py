import os
import pathlib

ROOT = pathlib.Path(__file__).resolve().parent.parent.parent


class _Missing:
    """The host's missing-value sentinel: only its identity matters."""

    def __repr__(self):
        return "<missing>"


MISSING = _Missing()


def jsontestsuite_dir():
    """The public JSON conformance corpus, or None when this checkout has none beside it."""
    env = os.environ.get("CORVANE_JSONTESTSUITE")
    candidates = [pathlib.Path(env)] if env else []
    candidates.append(ROOT.parent / "shared" / "jsontestsuite")
    for c in candidates:
        if (c / "test_parsing").is_dir():
            return c / "test_parsing"
    return None

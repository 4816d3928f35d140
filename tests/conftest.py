import pathlib
import sys

import pytest

# Lets tests import tests.support without installing anything.
sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent.parent))

# Re-exported from one module so that `tests.conftest` and pytest's own conftest
# module share the same sentinel object.
from tests.support.common import MISSING, ROOT, jsontestsuite_dir  # noqa: E402,F401


@pytest.fixture
def missing():
    return MISSING

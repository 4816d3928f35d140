"""The module's public surface: names, classes, argument binding, initialisation."""

import importlib
import os
import subprocess
import sys

import pytest

from corvane_core import _core
from tests.support.parity import MISSING

DUMP = _core.DumpSerializer((None, []), MISSING)
LOAD = _core.LoadDeserializer((False, 1, frozenset(), []), MISSING)


def test_exports_reimport_and_the_fallback_type():
    assert _core.__all__ == ["DumpSerializer", "LoadDeserializer", "AccelFallback", "PROTOCOL_VERSION"]
    assert (_core.PROTOCOL_VERSION, _core.__doc__, _core.__name__) == (18, "", "corvane_core._core")
    assert importlib.import_module("corvane_core._core") is _core
    # A fresh initialisation (as importlib.reload does for extensions) returns the first object.
    assert importlib.util.module_from_spec(importlib.util.find_spec("corvane_core._core")) is _core
    exc = _core.AccelFallback
    assert exc.__bases__ == (Exception,) and (exc.__name__, exc.__module__) == ("AccelFallback", "_core")
    assert exc.__doc__.startswith("Internal signal: the accelerated load hit an edge case and the caller should")
    for cls in (_core.DumpSerializer, _core.LoadDeserializer):
        assert (cls.__module__, cls.__text_signature__) == ("corvane_core._core", "(payload, missing)") and not cls.__doc__
        assert {n for n in vars(cls) if not n.startswith("__")} == {"run", "run_json"}


@pytest.mark.parametrize("call, message", [
    (lambda: _core.DumpSerializer((None, [])), "missing required argument 'missing'"),
    (lambda: _core.LoadDeserializer(payload=(None, [])), "missing required argument 'missing'"),
    (lambda: _core.DumpSerializer((None, []), MISSING, 3), "at most 2"),
    (lambda: _core.DumpSerializer(payload=(None, []), missing=MISSING, extra=1), "at most 2"),
    *[(lambda m=m, a=a, k=k: getattr(DUMP, m)(*a, **k), f"{m}\\(\\).*{text}|{text}.*{m}\\(\\)")
      for m in ("run", "run_json") for a, k, text in [
          ((object(), 1), {}, "argument 'many' must be bool, not int"),
          ((object(), None), {}, "argument 'many' must be bool, not NoneType"),
          ((object(),), {}, "missing required argument 'many' \\(pos 2\\)"),
          ((), {"many": True}, "missing required argument 'obj' \\(pos 1\\)"),
          ((object(), True, 3), {}, "takes at most 2 arguments \\(3 given\\)"),
          ((object(), True), {"obj": 1}, "given by name \\('obj'\\) and position \\(1\\)"),
          ((object(), True), {"bogus": 1}, "'bogus' is an invalid keyword argument")]],
    *[(lambda m=m, a=a, k=k: getattr(LOAD, m)(*a, **k), text) for m in ("run", "run_json") for a, k, text in [
        (("{}", 0, None), {}, "'many'"), ((), {"data": "{}", "many": False}, "'partial'")]],
])
def test_argument_errors(call, message):
    with pytest.raises(TypeError, match=message):
        call()


def test_keywords_and_a_fresh_empty_fallback_each_time():
    assert DUMP.run(obj=object(), many=False) == {} and DUMP.run_json(many=False, obj=None) == "{}"
    assert LOAD.run(data={}, many=False, partial=None) == {} and LOAD.run_json(partial=None, many=True, data="[]") == []
    seen = []
    for _ in range(2):
        with pytest.raises(_core.AccelFallback) as info:
            LOAD.run([], False, None)
        assert info.value.args == () and str(info.value) == ""
        seen.append(info.value)
    assert seen[0] is not seen[1]


def test_subinterpreter_import_refused(tmp_path):
    pytest.importorskip("_testcapi")
    marker = tmp_path / "m"
    inner = f"try:\n    import corvane_core._core\nexcept ImportError:\n    open({marker.as_posix()!r}, 'w').write('refused')\n"
    code = f"import _testcapi, corvane_core._core\n_testcapi.run_in_subinterp({inner!r})"
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(sys.path))
    subprocess.run([sys.executable, "-c", code], check=True, env=env, timeout=60)
    assert marker.read_text() == "refused"

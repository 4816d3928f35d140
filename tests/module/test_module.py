"""The module's public surface: names, classes, argument binding, initialisation, GC."""

import importlib
import os
import subprocess
import sys

import pytest

from corvane_core import _core
from tests.support.parity import MISSING

EMPTY_DUMP = (None, [])
EMPTY_LOAD = (False, 1, frozenset(), [])


def test_exports_in_order():
    assert _core.__all__ == ["DumpSerializer", "LoadDeserializer", "AccelFallback", "PROTOCOL_VERSION"]
    assert _core.PROTOCOL_VERSION == 18
    assert _core.__doc__ == ""
    assert _core.__name__ == "corvane_core._core"


def test_reimport_gives_same_module():
    assert importlib.import_module("corvane_core._core") is _core
    # A fresh initialisation (as importlib.reload does for extensions) returns the first object.
    spec = importlib.util.find_spec("corvane_core._core")
    assert importlib.util.module_from_spec(spec) is _core


def test_accel_fallback_identity():
    exc = _core.AccelFallback
    assert issubclass(exc, Exception) and exc.__bases__ == (Exception,)
    assert exc.__name__ == "AccelFallback" and exc.__module__ == "_core"
    assert exc.__doc__ == (
        "Internal signal: the accelerated load hit an edge case and the caller should fall back to "
        "pure-Python corvane (so errors/values match exactly)."
    )


@pytest.mark.parametrize(
    "cls, text, payload",
    [(_core.DumpSerializer, "(payload, missing)", EMPTY_DUMP), (_core.LoadDeserializer, "(payload, missing)", EMPTY_LOAD)],
)
def test_plan_class_surface(cls, text, payload):
    assert cls.__module__ == "corvane_core._core"
    assert cls.__text_signature__ == text
    assert not cls.__doc__
    plan = cls(payload=payload, missing=MISSING)
    assert not [n for n in vars(plan.__class__) if not n.startswith("__") and n not in ("run", "run_json")]


@pytest.mark.parametrize(
    "method, signature, doc",
    [
        (_core.DumpSerializer.run, "($self, obj, many)",
         "Serialize ``obj`` (or each element if ``many``) into a dict (or list)."),
        (_core.DumpSerializer.run_json, "($self, obj, many)",
         "Serialize ``obj`` straight to a JSON string, fusing ``dump`` +\n``json.dumps`` and skipping the "
         "intermediate Python dict. Byte-for-byte\nidentical to stdlib ``json.dumps(self._serialize(obj, many))`` "
         "for the\ncases it handles; it raises ``AccelFallback`` for anything it cannot\nreproduce exactly (e.g. an "
         "unencodable value or a non-``str`` dict key),\nand the caller falls back to ``dump`` + ``json.dumps``."),
        (_core.LoadDeserializer.run, "($self, data, many, partial)",
         "Deserialize ``data``; raises ``AccelFallback`` to defer to Python.\n\n``partial`` mirrors"),
        (_core.LoadDeserializer.run_json, "($self, data, many, partial)",
         "SPIKE (Design A): fused ``loads`` \u2014 parse"),
    ],
)
def test_method_signatures_and_docstrings(method, signature, doc):
    assert method.__text_signature__ == signature
    assert method.__doc__ and method.__doc__.startswith(doc)


@pytest.mark.parametrize(
    "args, kwargs, message",
    [
        ((EMPTY_DUMP,), {}, "missing required argument 'missing'"),
        ((), {"payload": EMPTY_DUMP}, "missing required argument 'missing'"),
        ((EMPTY_DUMP, MISSING, 3), {}, "at most 2"),
        ((), {"payload": EMPTY_DUMP, "missing": MISSING, "extra": 1}, "at most 2"),
    ],
)
def test_constructor_argument_errors(args, kwargs, message):
    with pytest.raises(TypeError, match=message):
        _core.DumpSerializer(*args, **kwargs)


@pytest.fixture
def dump_plan():
    return _core.DumpSerializer(EMPTY_DUMP, MISSING)


@pytest.fixture
def load_plan():
    return _core.LoadDeserializer(EMPTY_LOAD, MISSING)


@pytest.mark.parametrize("method", ["run", "run_json"])
@pytest.mark.parametrize(
    "args, kwargs, message",
    [
        ((object(), 1), {}, "argument 'many' must be bool, not int"),
        ((object(), None), {}, "argument 'many' must be bool, not NoneType"),
        ((object(),), {}, "missing required argument 'many' \\(pos 2\\)"),
        ((), {"many": True}, "missing required argument 'obj' \\(pos 1\\)"),
        ((object(), True, 3), {}, "takes at most 2 arguments \\(3 given\\)"),
        ((object(), True), {"obj": 1}, "given by name \\('obj'\\) and position \\(1\\)"),
        ((object(), True), {"bogus": 1}, "'bogus' is an invalid keyword argument"),
    ],
)
def test_dump_method_argument_errors(dump_plan, method, args, kwargs, message):
    with pytest.raises(TypeError, match=f"{method}\\(\\).*{message}|{message}.*{method}\\(\\)"):
        getattr(dump_plan, method)(*args, **kwargs)


@pytest.mark.parametrize("method", ["run", "run_json"])
def test_load_method_requires_bool_many(load_plan, method):
    with pytest.raises(TypeError, match="'many'"):
        getattr(load_plan, method)("{}", 0, None)
    with pytest.raises(TypeError, match="'partial'"):
        getattr(load_plan, method)(data="{}", many=False)


def test_keywords_accepted(dump_plan, load_plan):
    assert dump_plan.run(obj=object(), many=False) == {}
    assert dump_plan.run_json(many=False, obj=None) == "{}"
    assert load_plan.run(data={}, many=False, partial=None) == {}
    assert load_plan.run_json(partial=None, many=True, data="[]") == []


def test_fallback_is_fresh_and_empty(load_plan):
    seen = []
    for _ in range(2):
        with pytest.raises(_core.AccelFallback) as info:
            load_plan.run([], False, None)
        assert info.value.args == () and str(info.value) == ""
        seen.append(info.value)
    assert seen[0] is not seen[1]


def test_subinterpreter_import_refused(tmp_path):
    pytest.importorskip("_testcapi")
    marker = tmp_path / "m"
    inner = f"try:\n    import corvane_core._core\nexcept ImportError:\n    open({str(marker)!r}, 'w').write('refused')\n"
    code = f"import _testcapi, corvane_core._core\n_testcapi.run_in_subinterp({inner!r})"
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(sys.path))
    subprocess.run([sys.executable, "-c", code], check=True, env=env, timeout=60)
    assert marker.read_text() == "refused"

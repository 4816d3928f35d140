"""Dump payloads for the JSON output tests, and the reference that run_json must match."""

import json

import pytest

from corvane_core import AccelFallback, DumpSerializer
from tests.support.common import MISSING

PASS = (0,)
TEXT = (1,)
STRINGIFY = (6,)
DICT_COPY = (10,)


def int_(as_text=False):
    return (2, as_text)


def nested(fields, many=False, arg=None):
    return (4, (arg, list(fields)), many)


def list_of(child):
    return (5, child)


def call(fn):
    return (9, fn)


def tuple_of(*items):
    return (14, tuple(items))


def direct(key, element=PASS, attribute=None, default=MISSING):
    return (False, key, key if attribute is None else attribute, default, element)


def delegate(key, field, attribute=None):
    return (True, key, key if attribute is None else attribute, field)


def plan(*fields, arg=None):
    return DumpSerializer((arg, list(fields)), MISSING)


_VALUE = plan(direct("v"))


def write(value):
    """The writer's text for one plain value (the plan wraps it as {"v": value})."""
    text = _VALUE.run_json({"v": value}, False)
    assert text.startswith('{"v": ') and text.endswith("}")
    return text[6:-1]


def check_against_run(p, obj, many):
    """run_json must give json.dumps(run(...)) byte for byte, or fall back where that text
    is out of its reach, or fail as run fails."""
    try:
        result = p.run(obj, many)
    except AccelFallback:
        with pytest.raises(AccelFallback):
            p.run_json(obj, many)
        return
    except Exception as e:
        with pytest.raises((type(e), AccelFallback)):
            p.run_json(obj, many)
        return
    try:
        expected = json.dumps(result)
    except (TypeError, ValueError):
        expected = None  # json.dumps refuses it, or a cycle
    try:
        got = p.run_json(obj, many)
    except AccelFallback:
        assert expected is None or writer_refuses(result), f"needless fallback for {result!r}"
        return
    assert got == expected


def writer_refuses(value, depth=0):
    """True when the writer may answer AccelFallback for this plain value instead of text."""
    if depth > 900:
        return True
    t = type(value)
    if value is None or t in (bool, int, float, str):
        return False
    if isinstance(value, (list, tuple)):
        return any(writer_refuses(v, depth + 1) for v in value)
    if isinstance(value, dict):
        return any(not isinstance(k, str) or writer_refuses(v, depth + 1) for k, v in value.items())
    return True

"""Builders for dump payloads, so that a test reads as the schema it describes.

    plan(field("id", integer()), field("owner", nested(schema(field("name", TEXT))), attr="meta.owner"))
"""

from corvane_core._core import DumpSerializer

try:  # the suite's sentinel under pytest; a private one for benchmarks and scripts
    from conftest import MISSING
except ImportError:  # pragma: no cover

    class _Missing:
        def __repr__(self):
            return "<missing>"

    MISSING = _Missing()

PASS = (0,)
TEXT = (1,)
STRINGIFY = (6,)
STRINGIFY_ALT = (16,)
DICT_COPY = (10,)


def integer(as_text=False):
    return (2, as_text)


def floating(as_text=False):
    return (3, as_text)


def nested(schema_payload, many=False):
    return (4, schema_payload, many)


def list_of(child=PASS):
    return (5, child)


def date_format(fmt="%Y-%m-%d", formatter=None):
    return (7, formatter, fmt)


def enum_member(child=PASS, use_value=False):
    return (8, use_value, child)


def call_field(function, alt=False):
    return (12 if alt else 9, function)


def constant(value):
    return (11, value)


def dict_of(key=None, value=None):
    return (13, key, value)


def tuple_of(*items):
    return (14, tuple(items))


def nested_key(schema_payload, key, many=False):
    return (15, schema_payload, key, many)


def field(out_key, element=PASS, *, attr=None, default=MISSING):
    """A Direct field reading ``attr`` (default: the output key)."""
    return (False, out_key, out_key if attr is None else attr, default, element)


def delegate(out_key, field_obj, *, attr=None):
    """A field whose value comes from ``field_obj.serialize(attr, obj, serialize_arg)``."""
    return (True, out_key, out_key if attr is None else attr, field_obj)


def schema(*fields, arg=None):
    return (arg, list(fields))


def plan(*fields, arg=None, missing=MISSING):
    return DumpSerializer(schema(*fields, arg=arg), missing)


def dump_value(element, value):
    """What ``element`` makes of ``value`` as the one field of a record."""
    return plan(field("v", element)).run({"v": value}, False)["v"]

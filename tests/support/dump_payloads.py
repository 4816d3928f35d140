"""Builders for dump payloads, so that a test reads as the schema it describes:
``plan(field("id", integer()), field("city", TEXT, attr="address.city"))``."""
# ruff: noqa: E704 - one builder per line reads as the table of element tags it is

from corvane_core._core import DumpSerializer
from tests.support.common import MISSING

PASS, TEXT, STRINGIFY, DICT_COPY, STRINGIFY_ALT = (0,), (1,), (6,), (10,), (16,)


def integer(as_text=False): return (2, as_text)
def floating(as_text=False): return (3, as_text)
def nested(schema_payload, many=False): return (4, schema_payload, many)
def list_of(child=PASS): return (5, child)
def date_format(fmt="%Y-%m-%d", formatter=None): return (7, formatter, fmt)
def enum_member(child=PASS, use_value=False): return (8, use_value, child)
def call_field(function, alt=False): return (12 if alt else 9, function)
def constant(value): return (11, value)
def dict_of(key=None, value=None): return (13, key, value)
def tuple_of(*items): return (14, tuple(items))
def nested_key(schema_payload, key, many=False): return (15, schema_payload, key, many)


def field(out_key, element=PASS, *, attr=None, default=MISSING):
    return (False, out_key, out_key if attr is None else attr, default, element)


def delegate(out_key, field_obj, *, attr=None):
    return (True, out_key, out_key if attr is None else attr, field_obj)


def schema(*fields, arg=None):
    return (arg, list(fields))


def plan(*fields, arg=None, missing=MISSING):
    return DumpSerializer(schema(*fields, arg=arg), missing)


def dump_value(element, value):
    """What ``element`` makes of ``value`` as the one field of a record."""
    return plan(field("v", element)).run({"v": value}, False)["v"]

"""One schema with every field kind for the parity tests of run and run_json, and
how a call's outcome is compared with the host's."""

import enum

from corvane_core import fields as f, schema, validate as v
from corvane_core._core import AccelFallback
from corvane_core.errors import ValidationError

Color = enum.Enum("Color", {"RED": 1, "BLUE": 2})


class Item(schema.Schema):
    label = f.Str(required=True)
    qty = f.Int(validate=v.Range(0, 10))


class Record(schema.Schema):
    name = f.Str(validate=v.Length(max=3))
    n = f.Int()
    ratio = f.Float(allow_none=True)
    on = f.Bool()
    color = f.Enum(Color)
    item = f.Nested(Item)
    items = f.Nested(Item, many=True)
    nums = f.List(f.Int())
    pair = f.Tuple((f.Int(), f.Str()))
    tags = f.Dict(keys=f.Str(), values=f.Int())
    where = f.Raw(attribute="loc.x")
    also = f.Raw(attribute="loc.y", load_default=5)


UNKNOWN = [schema.RAISE, schema.EXCLUDE, schema.INCLUDE]


def outcome(fn):
    """The call's result, or "error" for a validation error or a fallback."""
    try:
        return fn()
    except (ValidationError, AccelFallback):
        return "error"

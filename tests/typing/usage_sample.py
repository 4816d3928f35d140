"""What a typed user of the schema layer sees. Checked by mypy --strict and basedpyright
in CI, never run. Each `# type: ignore[...]` line MUST fail to type-check: both
checkers report an ignore that is no longer needed, so a line that starts passing
fails the stage."""

import datetime
import enum
from typing import Any

from typing_extensions import assert_type

import corvane_core
from corvane_core import DumpSerializer, LoadDeserializer, Schema, ValidationError
from corvane_core import fields as f
from corvane_core import validate as v

Record = dict[str, Any]


class Colour(enum.Enum):
    RED = "red"


class NodeSchema(Schema):
    id = f.Int(required=True, strict=True, validate=[v.Range(1), lambda n: n != 7])
    name = f.Str(data_key="title", validate=v.Length(1, 200))
    when = f.DateTime(format="timestamp", load_default=None)
    colour = f.Enum(Colour, by_value=True)
    tags = f.List(f.Str(), load_default=[])
    pair = f.Tuple([f.Int(), f.Float(allow_nan=True)])
    extra = f.Dict(keys=f.Str(), values=f.Raw())
    parent = f.Nested("self", allow_none=True)
    child_ids = f.Pluck("self", "id", many=True)
    total = f.Function(serialize=lambda obj: 1)
    fixed = f.Constant(3)


schema = NodeSchema(unknown="exclude")
assert_type(schema.load({"id": 1}, many=False), Record)
assert_type(schema.load([], many=True, partial=("name",)), list[Record])
assert_type(schema.loads(b"{}", many=False, partial=True), Record)
assert_type(schema.loads("{}"), Record | list[Record])
assert_type(schema.dump(None), Record)
assert_type(schema.dump(object(), many=True), list[Record])
assert_type(schema.dumps(object()), str)
assert_type(NodeSchema.plans(), tuple[DumpSerializer, LoadDeserializer])
assert_type(corvane_core.__version__, str)
assert_type(schema.stats.fallback_rate, float)


def report(error: ValidationError) -> dict[str, list[str]]:
    return error.messages


def first_id(text: str) -> int:
    record = schema.loads(text, many=False)
    when: datetime.datetime | None = record["when"]
    return int(record["id"]) + (0 if when is None else 1)


# Misspelt or mistyped options, unknown policies, wrong result shapes: all must fail.
f.Int(requird=True)  # type: ignore[call-arg]
f.Str(allow_nan=True)  # type: ignore[call-arg]
f.Float(as_string="yes")  # type: ignore[arg-type]
f.Nested(NodeSchema, manny=True)  # type: ignore[call-arg]
f.List(f.Str, load_default=[])  # type: ignore[arg-type]
v.Length(min=1.5)  # type: ignore[arg-type]
NodeSchema(unknown="ignore")  # type: ignore[arg-type]
NodeSchema(many=1)  # type: ignore[arg-type]
schema.load({}, many=True)["id"]  # type: ignore[call-overload]
schema.loads(3)  # type: ignore[call-overload]
schema.dumps(object()).keys()  # type: ignore[attr-defined]

"""LoadDeserializer.run_json on arbitrary bytes, as bytes and as text, against the pure
load of json.loads of them: the same result, or a fallback; never an answer where
json.loads refuses. The first byte picks the schema and the call's options; the
schemas cover every field kind that walks the tree or is read in one pass."""

import uuid

import kit

from corvane_core import fields as f
from corvane_core import validate as v
from tests.support.parity import check_loads, schema

INNER = schema("raise", a=f.Int(), b=f.Str(allow_none=True, load_default="d"))
SCHEMAS = [
    schema("raise", a=f.Raw(), b=f.Int(), c=f.Float(), d=f.Str(allow_none=True)),
    schema("exclude", a=f.List(f.Int(allow_none=True)), b=f.Tuple([f.Str(), f.Float(allow_nan=True)]),
           c=f.Dict(keys=f.Int(), values=f.Int(strict=True, validate=v.Range(0, 9)))),
    schema("include", a=f.Nested(INNER), b=f.Nested(schema(a=f.Int(strict=True)), many=True),
           c=f.Pluck(INNER, "a", many=True)),
    schema("exclude", a=f.Dict(attribute="x.y"), b=f.Float(allow_nan=True, attribute="x.z"),
           c=f.Bool(truthy={"y", True}, falsy={"n", False})),
    schema("include", id=f.Int(strict=True, required=True), tags=f.List(f.Str(), validate=v.Length(max=3)),
           uid=f.Uuid(), a=f.Dict(load_default=uuid.UUID(int=0))),
    schema("exclude", a=f.List(f.List(f.List(f.Raw()))), b=f.Nested(schema(a=f.Nested(INNER)))),
    # Read in one pass: lists of floats, of booleans and of records, inside records.
    schema("raise", a=f.List(f.List(f.Float(allow_nan=True))), b=f.List(f.Nested(INNER)), c=f.List(f.Bool()),
           d=f.Nested(INNER, many=True, allow_none=True), e=f.Function(deserialize=len)),
]
PARTIALS = [None, True, ("a",), ["b.a", "c"]]


def TestOneInput(data):
    if not data:
        return
    head, doc = data[0], data[1:]
    cls, many, partial = SCHEMAS[head % len(SCHEMAS)], bool(head & 8), PARTIALS[(head >> 4) % len(PARTIALS)]
    check_loads(cls, doc, many, partial)
    try:
        text = doc.decode("utf-8")
    except UnicodeDecodeError:
        return
    check_loads(cls, text, many, partial)


if __name__ == "__main__":
    kit.main(TestOneInput)

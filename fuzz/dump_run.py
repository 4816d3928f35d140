"""DumpSerializer.run and run_json on drawn plans and objects, against the reference
interpreter: the same value, the same fallback, the same exception type; and run_json's
text is json.dumps of the reference result wherever it does not fall back."""

import json

import kit
import reference
from corvane_core._core import DumpSerializer
from kit import Outcome, Recipe, build, check
from plans import Draw, Reentry, distinct_keys, dump_object, dump_schema


def draw_case(data):
    d = Draw(kit.provider(data))
    schema = dump_schema(d, 3)
    many = d.bool()
    if many:
        recipe = Recipe(d.pick(["list", "tuple", "gen", "sublist"]),
                        [dump_object(d, schema) for _ in range(d.int(0, 3))])
    else:
        recipe = dump_object(d, schema)
    return schema, many, recipe


def json_text(outcome):
    """json.dumps of a reference result, as an outcome of its own."""
    if outcome.kind != "ok":
        return outcome
    return Outcome(lambda: json.dumps(outcome.value))


def TestOneInput(data):
    schema, many, recipe = draw_case(data)
    plan = DumpSerializer(schema, kit.MISSING)

    Reentry.target = lambda v: reference.dump(schema, v, False)
    ref = Outcome(lambda: reference.dump(schema, build(recipe), many))
    Reentry.target = lambda v: plan.run(v, False)
    accel = Outcome(lambda: plan.run(build(recipe), many))
    check(accel, ref, f"run of {recipe!r} on {schema!r}")

    if not distinct_keys(schema):
        Outcome(lambda: plan.run_json(build(recipe), many))
        return
    Reentry.target = lambda v: json.dumps(reference.dump(schema, v, False))
    ref_text = json_text(Outcome(lambda: reference.dump(schema, build(recipe), many)))
    Reentry.target = lambda v: plan.run_json(v, False)
    text = Outcome(lambda: plan.run_json(build(recipe), many))
    Reentry.target = None
    if text.kind == "fallback":
        return
    if text.kind == ref_text.kind == "error" and isinstance(text.error, kit.WriterHook):
        return
    check(text, ref_text, f"run_json of {recipe!r} on {schema!r}")


if __name__ == "__main__":
    kit.main(TestOneInput)

"""LoadDeserializer.run on drawn plans and inputs, against the reference interpreter;
and, where the input is JSON-able, run_json on its text against the reference on
json.loads of it (run_json may fall back where run would not)."""

import json

import kit
import reference
from corvane_core._core import LoadDeserializer
from kit import Outcome, build, check
from plans import Draw, Reentry, load_plan, load_record, load_records, partial_arg


def draw_case(data):
    d = Draw(kit.provider(data))
    plan = load_plan(d, 3)
    many = d.bool()
    recipe = load_records(d, plan, 0) if many else load_record(d, plan)
    return plan, many, recipe, partial_arg(d)


def TestOneInput(data):
    plan, many, recipe, partial = draw_case(data)
    native = LoadDeserializer(plan, kit.MISSING)
    sel = reference.partial_of(partial)

    Reentry.target = lambda v: reference.load(plan, v, False, reference.NONE)
    ref = Outcome(lambda: reference.load(plan, build(recipe), many, sel))
    Reentry.target = lambda v: native.run(v, False, None)
    accel = Outcome(lambda: native.run(build(recipe), many, partial))
    check(accel, ref, f"run of {recipe!r} partial={partial!r} on {plan!r}", lenient_interrupt=True)

    try:
        text = json.dumps(build(recipe))
    except Exception:
        return
    Reentry.target = lambda v: reference.load(plan, json.loads(json.dumps(v)), False, reference.NONE)
    ref = Outcome(lambda: reference.load(plan, json.loads(text), many, sel))
    Reentry.target = lambda v: native.run_json(json.dumps(v), False, None)
    accel = Outcome(lambda: native.run_json(text, many, partial))
    Reentry.target = None
    if accel.kind != "fallback":
        check(accel, ref, f"run_json of {text!r} partial={partial!r} on {plan!r}", lenient_interrupt=True)


if __name__ == "__main__":
    kit.main(TestOneInput)

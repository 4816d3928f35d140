"""What a user sees first: reprs of schemas, plans and validators; the demo's argument errors."""

import pytest

from corvane_core import MISSING, _core
from corvane_core import validate as v
from corvane_core.demo import OrderSchema, main


@pytest.mark.parametrize("obj, text", [
    (OrderSchema(), "<OrderSchema(many=False)>"),
    (OrderSchema(many=True, unknown="exclude", accelerate=False),
     "<OrderSchema(many=True, unknown='exclude', accelerate=False)>"),
    (OrderSchema.plans("include")[0], "<DumpSerializer(OrderSchema, fields=12)>"),
    (OrderSchema.plans("include")[1], "<LoadDeserializer(fields=12, many=False, unknown='include')>"),
    (_core.LoadDeserializer((True, 1, frozenset(), []), MISSING),
     "<LoadDeserializer(fields=0, many=True, unknown='exclude')>"),
    (v.Range(1, 1000), "Range(min=1, max=1000)"),
    (v.Range(0, max_inclusive=False), "Range(min=0, max=None, max_inclusive=False)"),
    (v.Length(equal=2), "Length(equal=2)"),
    (v.Length(3, None), "Length(min=3, max=None)"),
    (v.OneOf(("a", "b")), "OneOf(('a', 'b'))"),
    (v.NoneOf({1}), "NoneOf({1})"),
])
def test_reprs(obj, text):
    assert repr(obj) == text


def test_dump_plan_repr_survives_a_class_whose_name_raises():
    class Meta(type):
        @property
        def __name__(cls):
            raise RuntimeError("no name")

    plan = _core.DumpSerializer((Meta("Hostile", (), {}), []), MISSING)
    assert repr(plan) == "<DumpSerializer(fields=0)>"


@pytest.mark.parametrize("value, message", [
    ("abc", "argument --records: expected a whole number, not 'abc'"),
    ("0", "argument --records: must be at least 1"),
])
def test_records_argument_errors_name_the_problem(capsys, value, message):
    with pytest.raises(SystemExit):
        main(["--records", value])
    assert message in capsys.readouterr().err

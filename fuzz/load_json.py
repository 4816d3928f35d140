"""LoadDeserializer.run_json on arbitrary bytes, as bytes and as text: whenever it
does not fall back it must give what run(json.loads(data)) gives.

The first byte picks the plan and the call's options; plans cover every element kind
that walks the tree, and one more is drawn from the next 24 bytes."""

import json
import uuid

import kit
from corvane_core._core import LoadDeserializer
from kit import Outcome, check
from plans import Draw, load_plan

M = kit.MISSING


def f(key, element=(0,), *, attribute=None, default=M, required=False, nullable=False, validators=()):
    return (False, key, attribute or key, key, default, required, nullable, element, list(validators))


def plan(*fields, extra=1, known=None, many=False):
    return (many, extra, frozenset(x[1] for x in fields) if known is None else known, list(fields))


INNER = plan(f("a", (2,)), f("b", (1,), nullable=True, default="d"), extra=0)
PLANS = [
    plan(f("a"), f("b", (2,)), f("c", (3, False)), f("d", (1,), nullable=True), extra=0),
    plan(f("a", (5, (2,), True)), f("b", (15, ((1,), (3, True)))), f("c", (14, (2,), [], (13,), [(0, 0, 9, True, True)]))),
    plan(f("a", (4, INNER)), f("b", (4, plan(f("a", (13,)), many=True))), f("c", (16, INNER, "a", True)), extra=2,
         known=frozenset("abc")),
    plan(f("a", (10,), attribute="x.y"), f("b", (3, True), attribute="x.z"), f("c", (12, {"y", True}, {"n", False}))),
    plan(f("id", (13,), required=True), f("tags", (5, (1,), False), validators=[(1, None, 3, None)]),
         f("uid", (7, uuid.UUID)), f("a", (14, None, [], None, []), default={}), extra=2, known=frozenset(["id"])),
    plan(f("a", (5, (5, (5, (0,), True), True), True)), f("b", (4, plan(f("a", (4, INNER)))))),
]
LOADERS = [LoadDeserializer(p, M) for p in PLANS]
PARTIALS = [None, True, ("a",), ["b.a", "c"]]
PREFIX = 24


def TestOneInput(data):
    if not data:
        return
    head, doc = data[0], data[1:]
    if head % 8 < len(LOADERS):
        native = LOADERS[head % 8]
    else:
        native = LoadDeserializer(load_plan(Draw(kit.provider(doc[:PREFIX])), 2), M)
        doc = doc[PREFIX:]
    many = bool(head & 8)
    partial = PARTIALS[(head >> 4) % len(PARTIALS)]
    try:
        value = Outcome(lambda: json.loads(doc))
    except RecursionError:
        return
    ref = Outcome(lambda: native.run(value.value, many, partial)) if value.kind == "ok" else None
    inputs = [doc]
    try:
        inputs.append(doc.decode("utf-8"))
    except UnicodeDecodeError:
        pass
    for data_in in inputs:
        accel = Outcome(lambda: native.run_json(data_in, many, partial))
        if accel.kind == "fallback":
            continue
        if ref is None:
            if accel.kind == "error" and type(accel.error) is KeyboardInterrupt:
                continue  # root arrays load as they parse: host code can be interrupted first
            raise AssertionError(f"run_json accepted {data_in!r}, which json.loads refuses: {accel!r}")
        check(accel, ref, f"run_json of {data_in!r}")


if __name__ == "__main__":
    kit.main(TestOneInput)

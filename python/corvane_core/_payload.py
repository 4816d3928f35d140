"""Compiling schema classes into the nested tuples the two plan classes decode.

Each schema class compiles once per side (and, on the load side, once per
unknown-key policy); nested schemas reuse their own compiled field lists.
"""

from __future__ import annotations

from typing import TYPE_CHECKING, Any, Final, Literal, TypeAlias

if TYPE_CHECKING:
    from corvane_core.schema import Schema

Payload: TypeAlias = "tuple[Any, ...]"
Policy: TypeAlias = 'Literal["raise", "exclude", "include"]'


class DumpTag:
    PASSTHROUGH = 0
    TEXT = 1
    INT = 2
    FLOAT = 3
    NESTED = 4
    LIST_OF = 5
    STRINGIFY = 6
    DATE_FORMAT = 7
    ENUM_MEMBER = 8
    CALL_FIELD = 9
    DICT_COPY = 10
    CONSTANT = 11
    CALL_FIELD_ALT = 12
    DICT_OF = 13
    TUPLE_OF = 14
    NESTED_KEY = 15
    STRINGIFY_ALT = 16


class LoadTag:
    PASSTHROUGH = 0
    TEXT = 1
    INT = 2
    FLOAT = 3
    NESTED = 4
    LIST_OF = 5
    ENUM_MEMBER = 6
    UUID = 7
    INSTANCE_OR_CALL = 8
    CALL_FIELD = 9
    DICT_COPY = 10
    CONSTANT = 11
    BOOL_SET = 12
    STRICT_INT = 13
    DICT_OF = 14
    TUPLE_OF = 15
    NESTED_KEY = 16
    CALL_FIELD_ALT1 = 17
    CALL_FIELD_ALT2 = 18
    CALL_FIELD_ALT3 = 19


RAISE: Final = "raise"
EXCLUDE: Final = "exclude"
INCLUDE: Final = "include"
POLICIES: Final[dict[str, int]] = {RAISE: 0, EXCLUDE: 1, INCLUDE: 2}


def _cache(cls: type[Schema]) -> dict[str, Any]:
    # Per class, not inherited: a subclass has fields of its own.
    cache: dict[str, Any] | None = cls.__dict__.get("_payload_cache")
    if cache is None:
        cache = {}
        type.__setattr__(cls, "_payload_cache", cache)
    return cache


def dump_payload(cls: type[Schema]) -> Payload:
    cache = _cache(cls)
    if "dump" not in cache:
        entries: list[tuple[Any, ...]] = []
        for field in cls._dump_fields:
            if field.dump_delegates:
                entries.append((True, field.data_key, field.attribute, field))
            else:
                entries.append((False, field.data_key, field.attribute, field.dump_default, field.dump_element()))
        cache["dump"] = (cls, entries)
    compiled: Payload = cache["dump"]
    return compiled


def _load_entries(cls: type[Schema]) -> tuple[frozenset[str], list[tuple[Any, ...]]]:
    cache = _cache(cls)
    if "load" not in cache:
        entries: list[tuple[Any, ...]] = []
        for field in cls._load_fields:
            if field.load_delegates:
                entries.append((True, field.data_key, field.name, field.attribute, field))
            else:
                entries.append((
                    False, field.data_key, field.attribute, field.name, field.load_default,
                    field.required, field.allow_none, field.load_element(),
                    [v.entry() for v in field.validators],
                ))
        cache["load"] = (frozenset(f.data_key for f in cls._load_fields), entries)
    compiled: tuple[frozenset[str], list[tuple[Any, ...]]] = cache["load"]
    return compiled


def load_payload(cls: type[Schema], many: bool = False, unknown: str | None = None) -> Payload:
    known, entries = _load_entries(cls)
    policy = POLICIES[cls._unknown if unknown is None else unknown]
    return (bool(many), policy, known, entries)


def nested_targets(cls: type[Schema]) -> list[type[Schema]]:
    """Schema classes that ``cls`` nests directly, through any field."""
    out: list[type[Schema]] = []
    for field in cls._fields:
        out.extend(field.nested_targets())
    return out


def reaches(start: type[Schema], goal: type[Schema] | None) -> bool:
    """Whether nesting from ``start`` can lead back to ``goal``.

    A nested field whose target reaches its own schema would compile into an
    endless payload; such fields delegate to the host instead.
    """
    seen: set[type[Schema]] = set()
    stack = [start]
    while stack:
        cls = stack.pop()
        if cls is goal:
            return True
        if cls in seen:
            continue
        seen.add(cls)
        stack.extend(nested_targets(cls))
    return False


__all__ = ["DumpTag", "LoadTag", "RAISE", "EXCLUDE", "INCLUDE"]

"""Declarative schemas: fields on a class, compiled once into the two plans.

Every call tries the accelerated plan first; when it raises ``AccelFallback`` the
whole call runs again on the pure-Python path, which gives the same result or the
``ValidationError`` the plan would not format.
"""

from __future__ import annotations

import json
from typing import TYPE_CHECKING, Any, ClassVar, Literal, TypeAlias, cast, overload

from corvane_core import _payload, _pure
from corvane_core._core import AccelFallback, DumpSerializer, LoadDeserializer
from corvane_core._missing import MISSING
from corvane_core._payload import EXCLUDE, INCLUDE, POLICIES, RAISE, Payload, Policy
from corvane_core.fields import Field

if TYPE_CHECKING:
    from corvane_core._pure import Partial

Record: TypeAlias = "dict[str, Any]"
"""One dumped or loaded record."""
JsonText: TypeAlias = "str | bytes | bytearray"


class AccelStats:
    """How many calls of each kind tried the accelerated plan, and how many of
    those had to be re-run on the pure path."""

    OPERATIONS: ClassVar[tuple[str, ...]] = ("dump", "dumps", "load", "loads")

    calls: dict[str, int]
    fallbacks: dict[str, int]

    def __init__(self) -> None:
        self.reset()

    def reset(self) -> None:
        self.calls = dict.fromkeys(self.OPERATIONS, 0)
        self.fallbacks = dict.fromkeys(self.OPERATIONS, 0)

    @property
    def total_calls(self) -> int:
        return sum(self.calls.values())

    @property
    def total_fallbacks(self) -> int:
        return sum(self.fallbacks.values())

    @property
    def fallback_rate(self) -> float:
        return self.total_fallbacks / self.total_calls if self.total_calls else 0.0

    def __repr__(self) -> str:
        parts = ", ".join(f"{op}={self.fallbacks[op]}/{self.calls[op]}" for op in self.OPERATIONS)
        return f"<AccelStats fallbacks/calls: {parts}>"


def _check_policy(unknown: str) -> Policy:
    if unknown not in POLICIES:
        raise ValueError(f"unknown must be one of {sorted(POLICIES)}, not {unknown!r}")
    return unknown  # type: ignore[return-value]  # checked just above


class SchemaMeta(type):
    """Collects the declared fields (inherited ones first) and binds a copy of
    each to the new class."""

    # What __new__ gives each schema class.
    _declared_fields: dict[str, Field]
    _fields: tuple[Field, ...]
    _dump_fields: tuple[Field, ...]
    _load_fields: tuple[Field, ...]
    _known_keys: frozenset[str]
    _unknown: Policy

    def __new__(mcls, name: str, bases: tuple[type, ...], namespace: dict[str, Any]) -> SchemaMeta:
        cls = super().__new__(mcls, name, bases, namespace)
        declared: dict[str, Field] = {}
        for base in reversed(cls.__mro__[1:]):
            declared.update(base.__dict__.get("_declared_fields", {}))
        declared.update((key, value) for key, value in namespace.items() if isinstance(value, Field))
        cls._declared_fields = declared
        owner = cast("type[Schema]", cls)
        cls._fields = tuple(field.bind(owner, key) for key, field in declared.items())
        cls._dump_fields = tuple(f for f in cls._fields if not f.load_only)
        cls._load_fields = tuple(f for f in cls._fields if not f.dump_only)
        cls._known_keys = frozenset(f.data_key for f in cls._load_fields)
        seen: set[str] = set()
        for field in cls._dump_fields:
            # One output key per field: the fused JSON dump writes every field it meets.
            if field.data_key in seen:
                raise ValueError(f"{name}: two fields dump to the key {field.data_key!r}")
            seen.add(field.data_key)
        cls._unknown = _check_policy(getattr(getattr(cls, "Meta", None), "unknown", RAISE))
        return cls


class Schema(metaclass=SchemaMeta):
    """Base class of all schemas.

    ``many`` is the default for calls that do not pass it; ``unknown`` overrides
    the class's ``Meta.unknown`` policy for the top level of loads; with
    ``accelerate=False`` every call takes the pure path.
    """

    class Meta:
        unknown: Policy = RAISE

    many: bool
    unknown: Policy
    accelerate: bool
    stats: AccelStats
    dump_plan: DumpSerializer | None
    load_plan: LoadDeserializer | None

    def __init__(self, *, many: bool = False, unknown: Policy | None = None,
                 accelerate: bool = True) -> None:
        self.many = bool(many)
        self.unknown = type(self)._unknown if unknown is None else _check_policy(unknown)
        self.accelerate = bool(accelerate)
        self.stats = AccelStats()
        self.dump_plan = self.load_plan = None
        if self.accelerate:
            self.dump_plan, self.load_plan = type(self).plans(self.unknown)

    def __repr__(self) -> str:
        parts = [f"many={self.many}"]
        if self.unknown != type(self)._unknown:
            parts.append(f"unknown={self.unknown!r}")
        if not self.accelerate:
            parts.append("accelerate=False")
        return f"<{type(self).__name__}({', '.join(parts)})>"

    @classmethod
    def dump_payload(cls) -> Payload:
        return _payload.dump_payload(cls)

    @classmethod
    def load_payload(cls, unknown: Policy | None = None) -> Payload:
        return _payload.load_payload(cls, unknown=unknown)

    @classmethod
    def plans(cls, unknown: Policy | None = None) -> tuple[DumpSerializer, LoadDeserializer]:
        """The class's ``DumpSerializer`` and ``LoadDeserializer``, built once per policy."""
        unknown = cls._unknown if unknown is None else unknown
        cache: dict[str, tuple[DumpSerializer, LoadDeserializer]] | None = cls.__dict__.get("_plan_cache")
        if cache is None:
            cache = {}
            type.__setattr__(cls, "_plan_cache", cache)
        if unknown not in cache:
            cache[unknown] = (
                DumpSerializer(cls.dump_payload(), MISSING),
                LoadDeserializer(cls.load_payload(unknown), MISSING),
            )
        return cache[unknown]

    def _many(self, many: bool | None) -> bool:
        return self.many if many is None else bool(many)

    # Without ``many`` the result follows the instance's own ``many``. Dumping ``None``
    # gives one record whatever ``many`` says.
    @overload
    def dump(self, obj: None, *, many: bool | None = None) -> Record: ...
    @overload
    def dump(self, obj: object, *, many: Literal[False]) -> Record: ...
    @overload
    def dump(self, obj: object, *, many: Literal[True]) -> list[Record]: ...
    @overload
    def dump(self, obj: object, *, many: bool | None = None) -> Record | list[Record]: ...
    def dump(self, obj: object, *, many: bool | None = None) -> Record | list[Record]:
        many = self._many(many)
        plan = self.dump_plan
        if self.accelerate and plan is not None:
            self.stats.calls["dump"] += 1
            try:
                return plan.run(obj, many)
            except AccelFallback:
                self.stats.fallbacks["dump"] += 1
        return _pure.dump(type(self), obj, many)

    def dumps(self, obj: object, *, many: bool | None = None) -> str:
        many = self._many(many)
        plan = self.dump_plan
        if self.accelerate and plan is not None:
            self.stats.calls["dumps"] += 1
            try:
                return plan.run_json(obj, many)
            except AccelFallback:
                self.stats.fallbacks["dumps"] += 1
        return json.dumps(_pure.dump(type(self), obj, many))

    @overload
    def load(self, data: object, *, many: Literal[False], partial: Partial = None) -> Record: ...
    @overload
    def load(self, data: object, *, many: Literal[True], partial: Partial = None) -> list[Record]: ...
    @overload
    def load(self, data: object, *, many: bool | None = None,
             partial: Partial = None) -> Record | list[Record]: ...
    def load(self, data: object, *, many: bool | None = None,
             partial: Partial = None) -> Record | list[Record]:
        many = self._many(many)
        plan = self.load_plan
        if self.accelerate and plan is not None:
            self.stats.calls["load"] += 1
            try:
                return plan.run(data, many, partial)
            except AccelFallback:
                self.stats.fallbacks["load"] += 1
        return _pure.load(type(self), data, many, partial, self.unknown)

    @overload
    def loads(self, text: JsonText, *, many: Literal[False], partial: Partial = None) -> Record: ...
    @overload
    def loads(self, text: JsonText, *, many: Literal[True], partial: Partial = None) -> list[Record]: ...
    @overload
    def loads(self, text: JsonText, *, many: bool | None = None,
              partial: Partial = None) -> Record | list[Record]: ...
    def loads(self, text: JsonText, *, many: bool | None = None,
              partial: Partial = None) -> Record | list[Record]:
        many = self._many(many)
        plan = self.load_plan
        if self.accelerate and plan is not None:
            self.stats.calls["loads"] += 1
            try:
                return plan.run_json(text, many, partial)
            except AccelFallback:
                self.stats.fallbacks["loads"] += 1
        return _pure.load(type(self), json.loads(text), many, partial, self.unknown)

    # A pickled or copied schema carries only its settings: plans are cached per class and
    # fetched again on first use in whichever process it lands, and the counters start
    # afresh there, so that the counters of several workers add up to their calls.
    _NOT_PICKLED = ("dump_plan", "load_plan", "stats")

    def __getstate__(self) -> dict[str, object]:
        return {k: v for k, v in self.__dict__.items() if k not in self._NOT_PICKLED}

    def __setstate__(self, state: dict[str, object]) -> None:
        vars(self).update(state)
        self.stats = AccelStats()
        if not self.accelerate:
            self.dump_plan = self.load_plan = None

    # Hidden from the type checkers, which would otherwise accept any attribute name.
    if not TYPE_CHECKING:
        def __getattr__(self, name):
            # Only reached when the attribute is absent, so the calls themselves pay nothing.
            if name in ("dump_plan", "load_plan") and self.__dict__.get("accelerate"):
                self.dump_plan, self.load_plan = type(self).plans(self.unknown)
                return self.__dict__[name]
            raise AttributeError(f"{type(self).__name__!r} object has no attribute {name!r}",
                                 name=name, obj=self)


__all__ = ["Schema", "SchemaMeta", "AccelStats", "RAISE", "EXCLUDE", "INCLUDE"]

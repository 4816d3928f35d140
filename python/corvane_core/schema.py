"""Declarative schemas: fields on a class, compiled once into the two plans.

Every call tries the accelerated plan first; when it raises ``AccelFallback`` the
whole call runs again on the pure-Python path, which gives the same result or the
``ValidationError`` the plan would not format.
"""

import json

from corvane_core import _payload, _pure
from corvane_core._core import AccelFallback, DumpSerializer, LoadDeserializer
from corvane_core._missing import MISSING
from corvane_core._payload import EXCLUDE, INCLUDE, POLICIES, RAISE
from corvane_core.fields import Field


class AccelStats:
    """How many calls of each kind tried the accelerated plan, and how many of
    those had to be re-run on the pure path."""

    OPERATIONS = ("dump", "dumps", "load", "loads")

    def __init__(self):
        self.reset()

    def reset(self):
        self.calls = dict.fromkeys(self.OPERATIONS, 0)
        self.fallbacks = dict.fromkeys(self.OPERATIONS, 0)

    @property
    def total_calls(self):
        return sum(self.calls.values())

    @property
    def total_fallbacks(self):
        return sum(self.fallbacks.values())

    @property
    def fallback_rate(self):
        return self.total_fallbacks / self.total_calls if self.total_calls else 0.0

    def __repr__(self):
        parts = ", ".join(f"{op}={self.fallbacks[op]}/{self.calls[op]}" for op in self.OPERATIONS)
        return f"<AccelStats fallbacks/calls: {parts}>"


def _check_policy(unknown):
    if unknown not in POLICIES:
        raise ValueError(f"unknown must be one of {sorted(POLICIES)}, not {unknown!r}")
    return unknown


class SchemaMeta(type):
    """Collects the declared fields (inherited ones first) and binds a copy of
    each to the new class."""

    def __new__(mcls, name, bases, namespace):
        cls = super().__new__(mcls, name, bases, namespace)
        declared = {}
        for base in reversed(cls.__mro__[1:]):
            declared.update(base.__dict__.get("_declared_fields", {}))
        declared.update((key, value) for key, value in namespace.items() if isinstance(value, Field))
        cls._declared_fields = declared
        cls._fields = tuple(field.bind(cls, key) for key, field in declared.items())
        cls._dump_fields = tuple(f for f in cls._fields if not f.load_only)
        cls._load_fields = tuple(f for f in cls._fields if not f.dump_only)
        cls._known_keys = frozenset(f.data_key for f in cls._load_fields)
        seen = set()
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
        unknown = RAISE

    def __init__(self, *, many=False, unknown=None, accelerate=True):
        self.many = bool(many)
        self.unknown = type(self)._unknown if unknown is None else _check_policy(unknown)
        self.accelerate = bool(accelerate)
        self.stats = AccelStats()
        self.dump_plan = self.load_plan = None
        if self.accelerate:
            self.dump_plan, self.load_plan = type(self).plans(self.unknown)

    @classmethod
    def dump_payload(cls):
        return _payload.dump_payload(cls)

    @classmethod
    def load_payload(cls, unknown=None):
        return _payload.load_payload(cls, unknown=unknown)

    @classmethod
    def plans(cls, unknown=None):
        """The class's ``DumpSerializer`` and ``LoadDeserializer``, built once per policy."""
        unknown = cls._unknown if unknown is None else unknown
        cache = cls.__dict__.get("_plan_cache")
        if cache is None:
            cache = {}
            type.__setattr__(cls, "_plan_cache", cache)
        if unknown not in cache:
            cache[unknown] = (
                DumpSerializer(cls.dump_payload(), MISSING),
                LoadDeserializer(cls.load_payload(unknown), MISSING),
            )
        return cache[unknown]

    def _many(self, many):
        return self.many if many is None else bool(many)

    def dump(self, obj, *, many=None):
        many = self._many(many)
        if self.accelerate:
            self.stats.calls["dump"] += 1
            try:
                return self.dump_plan.run(obj, many)
            except AccelFallback:
                self.stats.fallbacks["dump"] += 1
        return _pure.dump(type(self), obj, many)

    def dumps(self, obj, *, many=None):
        many = self._many(many)
        if self.accelerate:
            self.stats.calls["dumps"] += 1
            try:
                return self.dump_plan.run_json(obj, many)
            except AccelFallback:
                self.stats.fallbacks["dumps"] += 1
        return json.dumps(_pure.dump(type(self), obj, many))

    def load(self, data, *, many=None, partial=None):
        many = self._many(many)
        if self.accelerate:
            self.stats.calls["load"] += 1
            try:
                return self.load_plan.run(data, many, partial)
            except AccelFallback:
                self.stats.fallbacks["load"] += 1
        return _pure.load(type(self), data, many, partial, self.unknown)

    def loads(self, text, *, many=None, partial=None):
        many = self._many(many)
        if self.accelerate:
            self.stats.calls["loads"] += 1
            try:
                return self.load_plan.run_json(text, many, partial)
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
        self.__dict__.update(state)
        self.stats = AccelStats()
        if not self.accelerate:
            self.dump_plan = self.load_plan = None

    def __getattr__(self, name: str) -> object:
        # Only reached when the attribute is absent, so the calls themselves pay nothing.
        if name in ("dump_plan", "load_plan") and self.__dict__.get("accelerate"):
            self.dump_plan, self.load_plan = type(self).plans(self.unknown)
            return self.__dict__[name]
        raise AttributeError(f"{type(self).__name__!r} object has no attribute {name!r}", name=name, obj=self)


__all__ = ["Schema", "SchemaMeta", "AccelStats", "RAISE", "EXCLUDE", "INCLUDE"]

"""Validators a field can carry.

Each class knows its payload entry (so the accelerated load can run it natively) and
checks values itself on the pure-Python path. A plain callable is a validator too:
it rejects a value by returning ``False`` or by raising.
"""

from __future__ import annotations

from collections.abc import Callable, Container, Iterable, Sized
from typing import Any, Final, TypeAlias

from corvane_core.errors import ValidationError

BOUNDS: Final = 0
SIZE_LIMIT: Final = 1
MEMBER_OF: Final = 2
EQUAL_TO: Final = 3
NOT_MEMBER_OF: Final = 4
ITEMS_IN: Final = 5
CALLBACK: Final = 6


class Validator:
    """Base class: ``entry()`` is the payload form, ``check(value)`` the pure form."""

    def entry(self) -> tuple[Any, ...]:
        raise NotImplementedError

    def check(self, value: Any) -> None:
        raise NotImplementedError

    def __call__(self, value: Any) -> Any:
        self.check(value)
        return value

    def _arguments(self) -> list[str]:
        return []

    def __repr__(self) -> str:
        return f"{type(self).__name__}({', '.join(self._arguments())})"


class Range(Validator):
    """``min``/``max`` bounds; either may be ``None``."""

    def __init__(self, min: Any = None, max: Any = None, *, min_inclusive: bool = True,
                 max_inclusive: bool = True) -> None:
        self.min = min
        self.max = max
        self.min_inclusive = bool(min_inclusive)
        self.max_inclusive = bool(max_inclusive)

    def entry(self) -> tuple[Any, ...]:
        return (BOUNDS, self.min, self.max, self.min_inclusive, self.max_inclusive)

    def _arguments(self) -> list[str]:
        out = [f"min={self.min!r}", f"max={self.max!r}"]
        out += [f"{name}=False" for name in ("min_inclusive", "max_inclusive") if not getattr(self, name)]
        return out

    def check(self, value: Any) -> None:
        if self.min is not None:
            if (value < self.min) if self.min_inclusive else (value <= self.min):
                word = "at least" if self.min_inclusive else "greater than"
                raise ValidationError(f"must be {word} {self.min!r}")
        if self.max is not None:
            if (value > self.max) if self.max_inclusive else (value >= self.max):
                word = "at most" if self.max_inclusive else "less than"
                raise ValidationError(f"must be {word} {self.max!r}")


class Length(Validator):
    """Length bounds; ``equal`` overrides ``min`` and ``max``."""

    def __init__(self, min: int | None = None, max: int | None = None, *,
                 equal: int | None = None) -> None:
        for bound in (min, max, equal):
            # The plan holds these as 64-bit integers; refuse anything else up front.
            if bound is not None and type(bound) is not int:
                raise TypeError(f"length bounds must be int or None, not {type(bound).__name__}")
        self.min = min
        self.max = max
        self.equal = equal

    def entry(self) -> tuple[Any, ...]:
        return (SIZE_LIMIT, self.min, self.max, self.equal)

    def _arguments(self) -> list[str]:
        if self.equal is not None:
            return [f"equal={self.equal!r}"]
        return [f"min={self.min!r}", f"max={self.max!r}"]

    def check(self, value: Sized) -> None:
        n = len(value)
        if self.equal is not None:
            if n != self.equal:
                raise ValidationError(f"length must be {self.equal}")
            return
        if self.min is not None and n < self.min:
            raise ValidationError(f"length must be at least {self.min}")
        if self.max is not None and n > self.max:
            raise ValidationError(f"length must be at most {self.max}")


class OneOf(Validator):
    def __init__(self, choices: Container[Any]) -> None:
        self.choices = choices

    def entry(self) -> tuple[Any, ...]:
        return (MEMBER_OF, self.choices)

    def _arguments(self) -> list[str]:
        return [repr(self.choices)]

    def check(self, value: Any) -> None:
        if value not in self.choices:
            raise ValidationError("not one of the allowed values")


class Equal(Validator):
    def __init__(self, target: Any) -> None:
        self.target = target

    def entry(self) -> tuple[Any, ...]:
        return (EQUAL_TO, self.target)

    def _arguments(self) -> list[str]:
        return [repr(self.target)]

    def check(self, value: Any) -> None:
        if not (value == self.target):
            raise ValidationError(f"must equal {self.target!r}")


class NoneOf(Validator):
    def __init__(self, forbidden: Container[Any]) -> None:
        self.forbidden = forbidden

    def entry(self) -> tuple[Any, ...]:
        return (NOT_MEMBER_OF, self.forbidden)

    def _arguments(self) -> list[str]:
        return [repr(self.forbidden)]

    def check(self, value: Any) -> None:
        try:
            found = value in self.forbidden
        except TypeError:
            # A value the container cannot even hold (unhashable in a set) is not in it.
            return
        if found:
            raise ValidationError("is one of the forbidden values")


class ContainsOnly(Validator):
    def __init__(self, choices: Container[Any]) -> None:
        self.choices = choices

    def entry(self) -> tuple[Any, ...]:
        return (ITEMS_IN, self.choices)

    def _arguments(self) -> list[str]:
        return [repr(self.choices)]

    def check(self, value: Iterable[Any]) -> None:
        for item in value:
            if item not in self.choices:
                raise ValidationError(f"item {item!r} is not allowed")


class _Callback(Validator):
    """A plain callable used as a validator."""

    def __init__(self, function: Callable[[Any], object]) -> None:
        self.function = function

    def entry(self) -> tuple[Any, ...]:
        return (CALLBACK, self.function)

    def _arguments(self) -> list[str]:
        return [repr(self.function)]

    def check(self, value: Any) -> None:
        if self.function(value) is False:
            raise ValidationError("invalid value")


ValidatorLike: TypeAlias = "Validator | Callable[[Any], object]"
"""A validator, or a plain callable that rejects a value by returning ``False`` or raising."""


def as_validator(obj: ValidatorLike) -> Validator:
    if isinstance(obj, Validator):
        return obj
    if callable(obj):
        return _Callback(obj)
    raise TypeError(f"a validator must be callable, not {type(obj).__name__}")


def run_checks(validators: Iterable[Validator], value: Any) -> None:
    """Pure-path validation: the first rejecting validator decides the message.

    Any exception of a check means invalid (the accelerated load falls back on it),
    except the two that must reach the caller.
    """
    for validator in validators:
        try:
            validator.check(value)
        except ValidationError:
            raise
        except Exception as exc:
            raise ValidationError(f"validation failed: {exc!r}") from exc

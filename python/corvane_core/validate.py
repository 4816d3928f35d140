"""Validators a field can carry.

Each class knows its payload entry (so the accelerated load can run it natively) and
checks values itself on the pure-Python path. A plain callable is a validator too:
it rejects a value by returning ``False`` or by raising.
"""

from corvane_core.errors import ValidationError

BOUNDS, SIZE_LIMIT, MEMBER_OF, EQUAL_TO, NOT_MEMBER_OF, ITEMS_IN, CALLBACK = range(7)


class Validator:
    """Base class: ``entry()`` is the payload form, ``check(value)`` the pure form."""

    def entry(self):
        raise NotImplementedError

    def check(self, value):
        raise NotImplementedError

    def __call__(self, value):
        self.check(value)
        return value


class Range(Validator):
    """``min``/``max`` bounds; either may be ``None``."""

    def __init__(self, min=None, max=None, *, min_inclusive=True, max_inclusive=True):
        self.min = min
        self.max = max
        self.min_inclusive = bool(min_inclusive)
        self.max_inclusive = bool(max_inclusive)

    def entry(self):
        return (BOUNDS, self.min, self.max, self.min_inclusive, self.max_inclusive)

    def check(self, value):
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

    def __init__(self, min=None, max=None, *, equal=None):
        for bound in (min, max, equal):
            # The plan holds these as 64-bit integers; refuse anything else up front.
            if bound is not None and type(bound) is not int:
                raise TypeError(f"length bounds must be int or None, not {type(bound).__name__}")
        self.min = min
        self.max = max
        self.equal = equal

    def entry(self):
        return (SIZE_LIMIT, self.min, self.max, self.equal)

    def check(self, value):
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
    def __init__(self, choices):
        self.choices = choices

    def entry(self):
        return (MEMBER_OF, self.choices)

    def check(self, value):
        if value not in self.choices:
            raise ValidationError("not one of the allowed values")


class Equal(Validator):
    def __init__(self, target):
        self.target = target

    def entry(self):
        return (EQUAL_TO, self.target)

    def check(self, value):
        if not (value == self.target):
            raise ValidationError(f"must equal {self.target!r}")


class NoneOf(Validator):
    def __init__(self, forbidden):
        self.forbidden = forbidden

    def entry(self):
        return (NOT_MEMBER_OF, self.forbidden)

    def check(self, value):
        try:
            found = value in self.forbidden
        except TypeError:
            # A value the container cannot even hold (unhashable in a set) is not in it.
            return
        if found:
            raise ValidationError("is one of the forbidden values")


class ContainsOnly(Validator):
    def __init__(self, choices):
        self.choices = choices

    def entry(self):
        return (ITEMS_IN, self.choices)

    def check(self, value):
        for item in value:
            if item not in self.choices:
                raise ValidationError(f"item {item!r} is not allowed")


class _Callback(Validator):
    """A plain callable used as a validator."""

    def __init__(self, function):
        self.function = function

    def entry(self):
        return (CALLBACK, self.function)

    def check(self, value):
        if self.function(value) is False:
            raise ValidationError("invalid value")


def as_validator(obj):
    if isinstance(obj, Validator):
        return obj
    if callable(obj):
        return _Callback(obj)
    raise TypeError(f"a validator must be callable, not {type(obj).__name__}")


def run_checks(validators, value):
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

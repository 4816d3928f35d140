"""The missing-value sentinel shared by the schema layer and both plan classes."""

from typing import Final


class _Missing:
    """Marks an absent attribute, an absent default or a field to leave out.

    Plans compare it by identity only, so there is exactly one instance.
    """

    __slots__ = ()

    def __repr__(self) -> str:
        return "<missing>"

    def __reduce__(self) -> str:
        return "MISSING"


MISSING: Final = _Missing()

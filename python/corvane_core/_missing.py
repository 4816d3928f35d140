"""The missing-value sentinel shared by the schema layer and both plan classes."""


class _Missing:
    """Marks an absent attribute, an absent default or a field to leave out.

    Plans compare it by identity only, so there is exactly one instance.
    """

    __slots__ = ()

    def __repr__(self):
        return "<missing>"

    def __reduce__(self):
        return "MISSING"


MISSING = _Missing()

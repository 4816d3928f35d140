"""The error a failed load reports: one message per failing location."""

from __future__ import annotations

from collections.abc import Hashable, Iterable
from typing import TypeAlias

ErrorPath: TypeAlias = "tuple[Hashable, ...]"
"""Input keys and list indices from the loaded document to a value."""
ErrorList: TypeAlias = "list[tuple[ErrorPath, str]]"


def _format_path(path: ErrorPath) -> str:
    return ".".join(str(p) for p in path) if path else "<root>"


class ValidationError(Exception):
    """Raised by ``Schema.load``/``loads`` (and by field and validator code).

    ``errors`` is a list of ``(path, message)`` pairs; ``path`` is a tuple of input
    keys and list indices leading from the loaded document to the failing value.
    """

    errors: ErrorList

    def __init__(self, message: str | Iterable[tuple[Iterable[Hashable], str]],
                 path: Iterable[Hashable] = ()) -> None:
        if isinstance(message, str):
            errors = [(tuple(path), message)]
        else:
            errors = [(tuple(path) + tuple(p), m) for p, m in message]
        self.errors = errors
        super().__init__(errors)

    def under(self, *prefix: Hashable) -> ErrorList:
        """The same failures, seen from one level further out."""
        return [(prefix + path, message) for path, message in self.errors]

    @property
    def messages(self) -> dict[str, list[str]]:
        """``{"dotted.path": [message, ...]}`` for display or comparison."""
        out: dict[str, list[str]] = {}
        for path, message in self.errors:
            out.setdefault(_format_path(path), []).append(message)
        return out

    def __str__(self) -> str:
        return "; ".join(f"{_format_path(path)}: {message}" for path, message in self.errors)

"""Type information for the extension module: two plan classes built from compiled
schema payloads, the fallback signal and the payload format version."""

from typing import Any, Final, Literal, final, overload

from typing_extensions import Self

__all__ = ["DumpSerializer", "LoadDeserializer", "AccelFallback", "PROTOCOL_VERSION"]

PROTOCOL_VERSION: Final[int]

class AccelFallback(Exception):
    """Internal signal: the accelerated load hit an edge case and the caller should fall back to pure-Python corvane (so errors/values match exactly)."""

@final
class DumpSerializer:
    def __new__(cls, payload: tuple[Any, ...], missing: object) -> Self: ...
    @overload
    def run(self, obj: object, many: Literal[False]) -> dict[str, Any]: ...
    @overload
    def run(self, obj: object, many: Literal[True]) -> dict[str, Any] | list[dict[str, Any]]: ...
    @overload
    def run(self, obj: object, many: bool) -> dict[str, Any] | list[dict[str, Any]]: ...
    def run_json(self, obj: object, many: bool) -> str: ...

@final
class LoadDeserializer:
    def __new__(cls, payload: tuple[Any, ...], missing: object) -> Self: ...
    @overload
    def run(self, data: object, many: Literal[False], partial: object) -> dict[Any, Any]: ...
    @overload
    def run(self, data: object, many: Literal[True], partial: object) -> list[dict[Any, Any]]: ...
    @overload
    def run(self, data: object, many: bool, partial: object) -> dict[Any, Any] | list[dict[Any, Any]]: ...
    @overload
    def run_json(self, data: str | bytes | bytearray, many: Literal[False], partial: object) -> dict[Any, Any]: ...
    @overload
    def run_json(self, data: str | bytes | bytearray, many: Literal[True], partial: object) -> list[dict[Any, Any]]: ...
    @overload
    def run_json(self, data: str | bytes | bytearray, many: bool, partial: object) -> dict[Any, Any] | list[dict[Any, Any]]: ...

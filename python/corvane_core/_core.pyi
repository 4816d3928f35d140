from typing import Any, Final, Literal

__all__ = ["DumpSerializer", "LoadDeserializer", "AccelFallback", "PROTOCOL_VERSION"]

PROTOCOL_VERSION: Final[Literal[18]]

class AccelFallback(Exception):
    """Internal signal: the accelerated load hit an edge case and the caller should fall back to pure-Python corvane (so errors/values match exactly)."""

class DumpSerializer:
    def __new__(cls, payload: tuple[Any, ...], missing: object) -> DumpSerializer: ...
    def run(self, obj: Any, many: bool) -> dict[str, Any] | list[dict[str, Any]]:
        """Serialize ``obj`` (or each element if ``many``) into a dict (or list)."""
    def run_json(self, obj: Any, many: bool) -> str:
        """Serialize ``obj`` straight to a JSON string; raises ``AccelFallback`` for anything it cannot reproduce exactly."""

class LoadDeserializer:
    def __new__(cls, payload: tuple[Any, ...], missing: object) -> LoadDeserializer: ...
    def run(self, data: Any, many: bool, partial: Any) -> dict[Any, Any] | list[dict[Any, Any]]:
        """Deserialize ``data``; raises ``AccelFallback`` to defer to Python."""
    def run_json(self, data: str | bytes, many: bool, partial: Any) -> dict[Any, Any] | list[dict[Any, Any]]:
        """Load straight from JSON text; raises ``AccelFallback`` for any shape it does not model."""

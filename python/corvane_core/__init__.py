"""Native accelerator for the corvane serialisation library.

The extension module ``corvane_core._core`` holds the two plan classes; the host
library builds them from its compiled schemas and falls back to its own path
whenever a call raises ``AccelFallback``. ``corvane_core.schema`` is a small host
library of that kind: declarative schemas with a pure-Python path of their own.
"""

from importlib import metadata as _metadata

from corvane_core._core import (
    PROTOCOL_VERSION,
    AccelFallback,
    DumpSerializer,
    LoadDeserializer,
)
from corvane_core import fields, validate
from corvane_core._missing import MISSING
from corvane_core.errors import ValidationError
from corvane_core.schema import EXCLUDE, INCLUDE, RAISE, AccelStats, Schema

try:
    __version__: str = _metadata.version("corvane-core")
except _metadata.PackageNotFoundError:  # a source tree on PYTHONPATH, not installed
    __version__ = "0+unknown"

__all__ = [
    "DumpSerializer", "LoadDeserializer", "AccelFallback", "PROTOCOL_VERSION",
    "Schema", "AccelStats", "ValidationError", "MISSING", "RAISE", "EXCLUDE", "INCLUDE",
    "fields", "validate", "__version__",
]

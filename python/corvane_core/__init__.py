"""Native accelerator for the corvane serialisation library.

The extension module ``corvane_core._core`` holds the two plan classes; the host
library builds them from its compiled schemas and falls back to its own path
whenever a call raises ``AccelFallback``.
"""

from corvane_core._core import (
    PROTOCOL_VERSION,
    AccelFallback,
    DumpSerializer,
    LoadDeserializer,
)

__all__ = ["DumpSerializer", "LoadDeserializer", "AccelFallback", "PROTOCOL_VERSION"]

"""The error a failed load reports: one message per failing location."""


def _format_path(path):
    return ".".join(str(p) for p in path) if path else "<root>"


class ValidationError(Exception):
    """Raised by ``Schema.load``/``loads`` (and by field and validator code).

    ``errors`` is a list of ``(path, message)`` pairs; ``path`` is a tuple of input
    keys and list indices leading from the loaded document to the failing value.
    """

    def __init__(self, message, path=()):
        if isinstance(message, str):
            errors = [(tuple(path), message)]
        else:
            errors = [(tuple(path) + tuple(p), m) for p, m in message]
        self.errors = errors
        super().__init__(errors)

    def under(self, *prefix):
        """The same failures, seen from one level further out."""
        return [(prefix + path, message) for path, message in self.errors]

    @property
    def messages(self):
        """``{"dotted.path": [message, ...]}`` for display or comparison."""
        out = {}
        for path, message in self.errors:
            out.setdefault(_format_path(path), []).append(message)
        return out

    def __str__(self):
        return "; ".join(f"{_format_path(path)}: {message}" for path, message in self.errors)

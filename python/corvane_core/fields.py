"""Field kinds of the schema layer.

A field does two things: it compiles itself into a dump element and a load element
of the plan payloads (``dump_element``/``load_element``; ``None`` when the payload
cannot express it, and the plan then calls the field itself), and it converts values
on the pure-Python path (``dump_value``/``load_value``) with exactly the rules of
those elements.
"""

from __future__ import annotations

import copy
import datetime as _dt
import enum as _enum
import ipaddress
import math
import operator
import uuid
from collections.abc import Callable, Collection, Iterable
from functools import cached_property
from typing import TYPE_CHECKING, Any, ClassVar, Final, Literal, TypeAlias, TypedDict, TypeVar

from corvane_core import _payload, _pure
from corvane_core._missing import MISSING
from corvane_core._payload import DumpTag, LoadTag
from corvane_core._pure import host_call
from corvane_core.errors import ErrorList, ValidationError
from corvane_core.validate import Validator, ValidatorLike, as_validator, run_checks

if TYPE_CHECKING:
    from typing_extensions import Self, Unpack

    from corvane_core._pure import Selection
    from corvane_core.schema import Schema

Element: TypeAlias = "tuple[Any, ...]"
"""A compiled dump or load element of a plan payload."""

_T = TypeVar("_T")
Validate: TypeAlias = "ValidatorLike | list[ValidatorLike] | tuple[ValidatorLike, ...]"
"""One validator or several, as a field's ``validate`` option takes them."""
SchemaTarget: TypeAlias = 'type[Schema] | Literal["self"] | Callable[[], type[Schema]]'
"""A nested schema: the class, "self", or a callable giving the class (for later ones)."""

REQUIRED: Final = "missing required field"
NOT_NULL: Final = "null is not allowed"


class FieldOptions(TypedDict, total=False):
    """The options every field takes, as keywords (see ``Field``)."""

    attribute: str | None
    data_key: str | None
    required: bool
    allow_none: bool | None
    load_default: Any
    dump_default: Any
    validate: Validate | None
    dump_only: bool
    load_only: bool


# A method call, so that the lookup of "decode" is part of the guarded call.
_decode_utf8 = operator.methodcaller("decode", "utf-8")


def inner_load_element(field: Field) -> Element | None:
    """The load element of a field used for items, keys or values of a container.

    Item elements have no validator slot, so an item field with validators leaves
    the whole container to the pure path.
    """
    if field.validators:
        return None
    return field.load_element()


class Field:
    """Base of all fields.

    ``attribute`` is read on dump and written on load (dotted names reach into
    nested objects and nested result dicts); ``data_key`` is the key in dumped
    output and loaded input. Defaults are plain values; a callable default is
    called on every use, which only the pure path can do, so such a field is run
    through the host.
    """

    # Completed by ``bind``: a schema's own fields always have them. Item fields of
    # containers are bound without a name and leave the three names at None.
    name: str
    attribute: str
    data_key: str
    owner: type[Schema]
    path: list[str] | None
    validators: list[Validator]

    def __init__(self, *, attribute: str | None = None, data_key: str | None = None,
                 required: bool = False, allow_none: bool | None = None,
                 load_default: Any = MISSING, dump_default: Any = MISSING,
                 validate: Validate | None = None,
                 dump_only: bool = False, load_only: bool = False) -> None:
        if required and load_default is not MISSING:
            raise ValueError("a required field cannot have a load_default")
        self.attribute = attribute  # type: ignore[assignment]  # see bind
        self.data_key = data_key  # type: ignore[assignment]
        self.required = bool(required)
        self.allow_none = (load_default is None) if allow_none is None else bool(allow_none)
        self.load_default = load_default
        self.dump_default = dump_default
        if validate is None:
            validate = []
        elif not isinstance(validate, (list, tuple)):
            validate = [validate]
        self.validators = [as_validator(v) for v in validate]
        self.dump_only = bool(dump_only)
        self.load_only = bool(load_only)
        self.name = None  # type: ignore[assignment]
        self.owner = None  # type: ignore[assignment]
        self.path = None

    def __repr__(self) -> str:
        return f"<{type(self).__name__} {self.name or '(unbound)'}>"

    # -- binding to a schema class --------------------------------------------------

    def bind(self, owner: type[Schema], name: str | None) -> Self:
        """A copy of this field that belongs to ``owner`` under ``name``."""
        field = copy.copy(self)
        field.owner = owner
        field.name = name  # type: ignore[assignment]
        if name is not None:
            if field.attribute is None:
                field.attribute = name
            if field.data_key is None:
                field.data_key = name
            field.path = field.attribute.split(".") if "." in field.attribute else None
        field.bind_inner(owner)
        return field

    def bind_inner(self, owner: type[Schema]) -> None:
        """Containers rebind their item fields so nested references resolve."""

    def inner_fields(self) -> tuple[Field, ...]:
        return ()

    def nested_targets(self) -> list[type[Schema]]:
        out = []
        for inner in self.inner_fields():
            out.extend(inner.nested_targets())
        return out

    # -- compilation ------------------------------------------------------------------

    def dump_element(self) -> Element | None:
        return None

    def load_element(self) -> Element | None:
        return None

    @cached_property
    def dump_delegates(self) -> bool:
        """Whether the dump plan calls ``serialize`` instead of converting itself."""
        if type(self).serialize is not Field.serialize or callable(self.dump_default):
            return True
        return self.dump_element() is None

    @cached_property
    def load_delegates(self) -> bool:
        """Whether the load plan calls ``deserialize`` instead of converting itself."""
        if type(self).deserialize is not Field.deserialize or callable(self.load_default):
            return True
        return self.load_element() is None

    # -- pure conversion ------------------------------------------------------------

    def dump_value(self, value: Any) -> Any:
        raise NotImplementedError

    def load_value(self, value: Any, partial: Selection) -> Any:
        """Converts a present, non-``None`` input value; ``partial`` is this level's
        selection (``None``, ``True`` or a collection of names)."""
        raise NotImplementedError

    def load_inner(self, value: Any, partial: Selection) -> Any:
        """Item conversion inside a container: convert, then validate."""
        result = self.load_value(value, partial)
        run_checks(self.validators, result)
        return result

    # -- the calls a plan makes for a delegated field -----------------------------------

    def serialize(self, attr: str, obj: Any, schema: type[Schema]) -> Any:
        value = _pure.get_value(obj, attr, attr.split(".") if "." in attr else None)
        if value is MISSING:
            value = self.dump_default() if callable(self.dump_default) else self.dump_default
        if value is MISSING:
            return MISSING
        return self.dump_value(value)

    def deserialize(self, value: Any, name: str | None = None, data: Any = None,
                    partial: Selection = None) -> Any:
        if value is MISSING:
            if self.required:
                raise ValidationError(REQUIRED)
            default = self.load_default
            return default() if callable(default) else default
        if value is None:
            if self.allow_none:
                return None
            raise ValidationError(NOT_NULL)
        return self.load_inner(value, partial)


class Raw(Field):
    """Any value, unchanged both ways."""

    def dump_element(self) -> Element | None:
        return (DumpTag.PASSTHROUGH,)

    def load_element(self) -> Element | None:
        return (LoadTag.PASSTHROUGH,)

    def dump_value(self, value: Any) -> Any:
        return value

    def load_value(self, value: Any, partial: Selection) -> Any:
        return value


class Str(Field):
    def dump_element(self) -> Element | None:
        return (DumpTag.TEXT,)

    def load_element(self) -> Element | None:
        return (LoadTag.TEXT,)

    def dump_value(self, value: Any) -> Any:
        if value is None:
            return None
        if isinstance(value, bytes):
            return value.decode("utf-8")
        return str(value)

    def load_value(self, value: Any, partial: Selection) -> Any:
        if type(value) is str:
            return value
        if isinstance(value, bytes):
            return host_call("expected a string (bytes are not UTF-8)", _decode_utf8, value)
        raise ValidationError("expected a string")


class Int(Field):
    """``strict`` accepts only exact ints on load; ``as_string`` dumps the text."""

    def __init__(self, *, strict: bool = False, as_string: bool = False,
                 **kwargs: Unpack[FieldOptions]) -> None:
        super().__init__(**kwargs)
        self.strict = bool(strict)
        self.as_string = bool(as_string)

    def dump_element(self) -> Element | None:
        return (DumpTag.INT, self.as_string)

    def load_element(self) -> Element | None:
        return (LoadTag.STRICT_INT,) if self.strict else (LoadTag.INT,)

    def dump_value(self, value: Any) -> Any:
        if value is None:
            return None
        result = int(value)
        return str(result) if self.as_string else result

    def load_value(self, value: Any, partial: Selection) -> Any:
        if type(value) is bool:
            raise ValidationError("expected an integer, not a boolean")
        if type(value) is int:
            return value
        if self.strict:
            raise ValidationError("expected an integer")
        return host_call("expected an integer", int, value)


class Float(Field):
    """``allow_nan`` lets NaN and the infinities through on load."""

    def __init__(self, *, allow_nan: bool = False, as_string: bool = False,
                 **kwargs: Unpack[FieldOptions]) -> None:
        super().__init__(**kwargs)
        self.allow_nan = bool(allow_nan)
        self.as_string = bool(as_string)

    def dump_element(self) -> Element | None:
        return (DumpTag.FLOAT, self.as_string)

    def load_element(self) -> Element | None:
        return (LoadTag.FLOAT, self.allow_nan)

    def dump_value(self, value: Any) -> Any:
        if value is None:
            return None
        result = float(value)
        return str(result) if self.as_string else result

    def load_value(self, value: Any, partial: Selection) -> Any:
        if type(value) is bool:
            raise ValidationError("expected a number, not a boolean")
        result = value if type(value) is float else host_call("expected a number", float, value)
        if not self.allow_nan and not math.isfinite(result):
            raise ValidationError("NaN and infinity are not allowed")
        return result


TRUTHY: Final[frozenset[object]] = frozenset({
    True, "true", "True", "TRUE", "t", "T", "yes", "Yes", "YES", "y", "Y", "on", "On", "ON", "1"})
FALSY: Final[frozenset[object]] = frozenset({
    False, "false", "False", "FALSE", "f", "F", "no", "No", "NO", "n", "N", "off", "Off", "OFF", "0"})


class Bool(Field):
    """Loads by membership in ``truthy``/``falsy``; dumps the value as it is."""

    def __init__(self, *, truthy: Collection[object] = TRUTHY, falsy: Collection[object] = FALSY,
                 **kwargs: Unpack[FieldOptions]) -> None:
        super().__init__(**kwargs)
        self.truthy = truthy
        self.falsy = falsy

    def dump_element(self) -> Element | None:
        return (DumpTag.PASSTHROUGH,)

    def load_element(self) -> Element | None:
        return (LoadTag.BOOL_SET, self.truthy, self.falsy)

    def dump_value(self, value: Any) -> Any:
        return value

    def load_value(self, value: Any, partial: Selection) -> Any:
        for container, result in ((self.truthy, True), (self.falsy, False)):
            try:
                found = value in container
            except Exception:
                raise ValidationError("expected a boolean") from None
            if found:
                return result
        raise ValidationError("expected a boolean")


class Uuid(Field):
    """Dumps ``str(value)``; loads a UUID from its text, or from 16 raw bytes."""

    def dump_element(self) -> Element | None:
        return (DumpTag.STRINGIFY,)

    def load_element(self) -> Element | None:
        return (LoadTag.UUID, uuid.UUID)

    def dump_value(self, value: Any) -> Any:
        return None if value is None else str(value)

    def load_value(self, value: Any, partial: Selection) -> Any:
        if isinstance(value, uuid.UUID):
            return value
        if isinstance(value, bytes) and len(value) == 16:
            return host_call("expected a UUID", uuid.UUID, bytes=value)
        return host_call("expected a UUID", uuid.UUID, value)


_IP_CLASSES = (ipaddress.IPv4Address, ipaddress.IPv6Address)


class IP(Field):
    """An IPv4 or IPv6 address; dumps its text."""

    def dump_element(self) -> Element | None:
        return (DumpTag.STRINGIFY_ALT,)

    def load_element(self) -> Element | None:
        return (LoadTag.INSTANCE_OR_CALL, _IP_CLASSES, ipaddress.ip_address)

    def dump_value(self, value: Any) -> Any:
        return None if value is None else str(value)

    def load_value(self, value: Any, partial: Selection) -> Any:
        if isinstance(value, _IP_CLASSES):
            return value
        return host_call("expected an IP address", ipaddress.ip_address, value)


class _Strptime:
    """Parses one ``strftime`` format into the field's type."""

    def __init__(self, fmt: str, kind: type) -> None:
        self.fmt = fmt
        self.kind = kind

    def __call__(self, value: str) -> _dt.datetime | _dt.date | _dt.time:
        parsed = _dt.datetime.strptime(value, self.fmt)
        if self.kind is _dt.date:
            return parsed.date()
        if self.kind is _dt.time:
            return parsed.time()
        return parsed


def _from_timestamp(value: float) -> _dt.datetime:
    return _dt.datetime.fromtimestamp(value, _dt.timezone.utc)


class _Temporal(Field):
    """``format`` is "iso", "timestamp" (datetimes only) or a ``strftime`` format."""

    kind: ClassVar[type[_dt.date] | type[_dt.time]] = _dt.datetime
    label = "datetime"

    formatter: Callable[[Any], Any] | None
    parser: Callable[[Any], Any]

    def __init__(self, format: str = "iso", **kwargs: Unpack[FieldOptions]) -> None:
        super().__init__(**kwargs)
        if format == "timestamp" and self.kind is not _dt.datetime:
            raise ValueError("only datetimes have a timestamp format")
        self.format = format
        if format == "iso":
            self.formatter = operator.methodcaller("isoformat")
            self.parser = self.kind.fromisoformat
        elif format == "timestamp":
            self.formatter = operator.methodcaller("timestamp")
            self.parser = _from_timestamp
        else:
            self.formatter = None
            self.parser = _Strptime(format, self.kind)

    def dump_element(self) -> Element | None:
        return (DumpTag.DATE_FORMAT, self.formatter, self.format)

    def load_element(self) -> Element | None:
        return (LoadTag.INSTANCE_OR_CALL, self.kind, self.parser)

    def dump_value(self, value: Any) -> Any:
        if value is None:
            return None
        if self.formatter is not None:
            return self.formatter(value)
        return value.strftime(self.format)

    def load_value(self, value: Any, partial: Selection) -> Any:
        if isinstance(value, self.kind):
            return value
        return host_call(f"expected a {self.label}", self.parser, value)


class DateTime(_Temporal):
    kind = _dt.datetime
    label = "datetime"


class Date(_Temporal):
    kind = _dt.date
    label = "date"


class Time(_Temporal):
    kind = _dt.time
    label = "time"


class Enum(Field):
    """An enum member, by name, or by value when ``by_value`` is true (or a field
    that converts the value)."""

    child: Field

    def __init__(self, enum: type[_enum.Enum], *, by_value: bool | Field = False,
                 **kwargs: Unpack[FieldOptions]) -> None:
        super().__init__(**kwargs)
        self.enum = enum
        self.by_value = by_value is not False
        if isinstance(by_value, Field):
            self.child = by_value
        else:
            self.child = Raw() if self.by_value else Str()

    def bind_inner(self, owner: type[Schema]) -> None:
        self.child = self.child.bind(owner, None)

    def inner_fields(self) -> tuple[Field, ...]:
        return (self.child,)

    def dump_element(self) -> Element | None:
        child = self.child.dump_element()
        return None if child is None else (DumpTag.ENUM_MEMBER, self.by_value, child)

    def load_element(self) -> Element | None:
        child = inner_load_element(self.child)
        return None if child is None else (LoadTag.ENUM_MEMBER, self.enum, self.by_value, child)

    def dump_value(self, value: Any) -> Any:
        if value is None:
            return None
        return self.child.dump_value(getattr(value, "value" if self.by_value else "name"))

    def load_value(self, value: Any, partial: Selection) -> Any:
        if isinstance(value, self.enum):
            return value
        raw = self.child.load_inner(value, partial)
        message = f"not a member of {self.enum.__name__}"
        if self.by_value:
            return host_call(message, self.enum, raw)
        return host_call(message, operator.getitem, self.enum, raw)


class Constant(Field):
    """Always the same value, whatever the object or the input holds."""

    def __init__(self, value: Any, **kwargs: Unpack[FieldOptions]) -> None:
        # A callable default would be called, so a callable constant gets none.
        if not callable(value):
            kwargs.setdefault("dump_default", value)
            kwargs.setdefault("load_default", value)
        super().__init__(**kwargs)
        self.value = value

    def dump_element(self) -> Element | None:
        return (DumpTag.CONSTANT, self.value)

    def load_element(self) -> Element | None:
        return (LoadTag.CONSTANT, self.value)

    def dump_value(self, value: Any) -> Any:
        return self.value

    def load_value(self, value: Any, partial: Selection) -> Any:
        return self.value


class _SchemaRef(Field):
    """Shared by the nested kinds: resolves the target lazily so that schemas can
    refer to ones defined later, or to themselves ("self")."""

    def __init__(self, schema: SchemaTarget, *, many: bool = False,
                 **kwargs: Unpack[FieldOptions]) -> None:
        super().__init__(**kwargs)
        self._target = schema
        self.many = bool(many)

    @cached_property
    def schema(self) -> type[Schema]:
        target = self._target
        if target == "self":
            return self.owner
        if isinstance(target, type):
            return target
        return target()

    def nested_targets(self) -> list[type[Schema]]:
        return [self.schema]

    @cached_property
    def cyclic(self) -> bool:
        """A target that nests back into the owner cannot be compiled inline."""
        return _payload.reaches(self.schema, self.owner)


class Nested(_SchemaRef):
    def dump_element(self) -> Element | None:
        if self.cyclic:
            return None
        return (DumpTag.NESTED, _payload.dump_payload(self.schema), self.many)

    def load_element(self) -> Element | None:
        if self.cyclic:
            return None
        return (LoadTag.NESTED, _payload.load_payload(self.schema, many=self.many))

    def dump_value(self, value: Any) -> Any:
        if value is None:
            return None
        return _pure.dump(self.schema, value, self.many)

    def load_value(self, value: Any, partial: Selection) -> Any:
        return _pure.load_nested(self.schema, value, self.many, partial)


class Pluck(_SchemaRef):
    """One field of a nested schema stands in for the whole nested record."""

    def __init__(self, schema: SchemaTarget, field_name: str, *, many: bool = False,
                 **kwargs: Unpack[FieldOptions]) -> None:
        super().__init__(schema, many=many, **kwargs)
        self.field_name = field_name

    @cached_property
    def key(self) -> str:
        for field in self.schema._fields:
            if field.name == self.field_name:
                return field.data_key
        raise LookupError(f"{self.schema.__name__} has no field {self.field_name!r}")

    def dump_element(self) -> Element | None:
        if self.cyclic:
            return None
        return (DumpTag.NESTED_KEY, _payload.dump_payload(self.schema), self.key, self.many)

    def load_element(self) -> Element | None:
        if self.cyclic:
            return None
        return (LoadTag.NESTED_KEY, _payload.load_payload(self.schema), self.key, self.many)

    def dump_value(self, value: Any) -> Any:
        if value is None:
            return None
        dumped: Any = _pure.dump(self.schema, value, self.many)
        if self.many:
            return [record[self.key] for record in dumped]
        return dumped[self.key]

    def load_value(self, value: Any, partial: Selection) -> Any:
        if not self.many:
            return _pure.load_nested(self.schema, {self.key: value}, False, partial)
        if not isinstance(value, (list, tuple)):
            raise ValidationError("expected a list")
        return _pure.load_nested(self.schema, [{self.key: item} for item in value], True, partial)


def _load_items(pairs: Iterable[tuple[Any, _T]], convert: Callable[[_T], Any]) -> list[Any]:
    """Converts ``(location, value)`` pairs, collecting every failure."""
    results: list[Any] = []
    errors: ErrorList = []
    for location, value in pairs:
        try:
            results.append(convert(value))
        except ValidationError as exc:
            errors.extend(exc.under(location))
    if errors:
        raise ValidationError(errors)
    return results


class List(Field):
    def __init__(self, inner: Field, **kwargs: Unpack[FieldOptions]) -> None:
        super().__init__(**kwargs)
        self.inner = inner

    def bind_inner(self, owner: type[Schema]) -> None:
        self.inner = self.inner.bind(owner, None)

    def inner_fields(self) -> tuple[Field, ...]:
        return (self.inner,)

    def dump_element(self) -> Element | None:
        inner = self.inner.dump_element()
        return None if inner is None else (DumpTag.LIST_OF, inner)

    def load_element(self) -> Element | None:
        inner = inner_load_element(self.inner)
        return None if inner is None else (LoadTag.LIST_OF, inner, self.inner.allow_none)

    def dump_value(self, value: Any) -> Any:
        if value is None:
            return None
        return [self.inner.dump_value(item) for item in value]

    def load_value(self, value: Any, partial: Selection) -> Any:
        if not isinstance(value, (list, tuple)):
            raise ValidationError("expected a list")

        def convert(item: Any) -> Any:
            if item is None:
                if self.inner.allow_none:
                    return None
                raise ValidationError(NOT_NULL)
            return self.inner.load_inner(item, partial)

        return _load_items(enumerate(value), convert)


class Tuple(Field):
    """A fixed number of positions, each with its own field."""

    items: tuple[Field, ...]

    def __init__(self, items: Iterable[Field], **kwargs: Unpack[FieldOptions]) -> None:
        super().__init__(**kwargs)
        self.items = tuple(items)

    def bind_inner(self, owner: type[Schema]) -> None:
        self.items = tuple(item.bind(owner, None) for item in self.items)

    def inner_fields(self) -> tuple[Field, ...]:
        return self.items

    def dump_element(self) -> Element | None:
        elements = tuple(item.dump_element() for item in self.items)
        return None if None in elements else (DumpTag.TUPLE_OF, elements)

    def load_element(self) -> Element | None:
        # The plan refuses a None item at every position.
        if any(item.allow_none for item in self.items):
            return None
        elements = tuple(inner_load_element(item) for item in self.items)
        return None if None in elements else (LoadTag.TUPLE_OF, elements)

    def dump_value(self, value: Any) -> Any:
        if value is None:
            return None
        values = value if isinstance(value, (list, tuple)) else tuple(value)
        if len(values) != len(self.items):
            # Pairing by position would silently drop or invent data.
            raise ValueError(f"expected {len(self.items)} items to dump, got {len(values)}")
        return tuple(item.dump_value(v) for item, v in zip(self.items, values))

    def load_value(self, value: Any, partial: Selection) -> Any:
        if not isinstance(value, (list, tuple)):
            raise ValidationError("expected a list")
        if len(value) != len(self.items):
            raise ValidationError(f"expected {len(self.items)} items")

        def convert(pair: tuple[Any, Field]) -> Any:
            item, field = pair
            if item is None:
                if field.allow_none:
                    return None
                raise ValidationError(NOT_NULL)
            return field.load_inner(item, partial)

        return tuple(_load_items(enumerate(zip(value, self.items)), convert))


class Dict(Field):
    """A mapping; ``keys`` and ``values`` optionally convert each side."""

    def __init__(self, keys: Field | None = None, values: Field | None = None,
                 **kwargs: Unpack[FieldOptions]) -> None:
        super().__init__(**kwargs)
        self.keys = keys
        self.values = values

    def bind_inner(self, owner: type[Schema]) -> None:
        if self.keys is not None:
            self.keys = self.keys.bind(owner, None)
        if self.values is not None:
            self.values = self.values.bind(owner, None)

    def inner_fields(self) -> tuple[Field, ...]:
        return tuple(f for f in (self.keys, self.values) if f is not None)

    def dump_element(self) -> Element | None:
        if self.keys is None and self.values is None:
            return (DumpTag.DICT_COPY,)
        sides = [None if f is None else f.dump_element() for f in (self.keys, self.values)]
        for field, element in zip((self.keys, self.values), sides):
            if field is not None and element is None:
                return None
        return (DumpTag.DICT_OF, sides[0], sides[1])

    def load_element(self) -> Element | None:
        if self.keys is None and self.values is None:
            return (LoadTag.DICT_COPY,)
        out: list[Any] = [LoadTag.DICT_OF]
        for field in (self.keys, self.values):
            if field is None:
                out += [None, []]
                continue
            # The plan refuses a None key or value whenever that side converts.
            element = None if field.allow_none else field.load_element()
            if element is None:
                return None
            out += [element, [v.entry() for v in field.validators]]
        return tuple(out)

    def dump_value(self, value: Any) -> Any:
        if value is None:
            return None
        if self.keys is None and self.values is None:
            return dict(value)
        pairs = dict.items(value) if isinstance(value, dict) else dict(value).items()
        out = {}
        for k, v in pairs:
            k = k if self.keys is None else self.keys.dump_value(k)
            v = v if self.values is None else self.values.dump_value(v)
            out[k] = v
        return out

    def load_value(self, value: Any, partial: Selection) -> Any:
        if not isinstance(value, dict):
            raise ValidationError("expected a mapping")
        if self.keys is None and self.values is None:
            return dict(value)
        out, errors = {}, []
        for k, v in dict.items(value):
            try:
                k2 = self._side(self.keys, k, partial)
                v2 = self._side(self.values, v, partial)
            except ValidationError as exc:
                errors.extend(exc.under(k))
                continue
            out[k2] = v2
        if errors:
            raise ValidationError(errors)
        return out

    @staticmethod
    def _side(field: Field | None, item: Any, partial: Selection) -> Any:
        if field is None:
            return item
        if item is None:
            if field.allow_none:
                return None
            raise ValidationError(NOT_NULL)
        return field.load_inner(item, partial)


class Function(Field):
    """A computed field: ``serialize(obj)`` builds the dumped value from the whole
    object; ``deserialize(value)`` converts a loaded one. Either may be left out,
    making the field load-only or dump-only."""

    def __init__(self, serialize: Callable[[Any], Any] | None = None,
                 deserialize: Callable[[Any], Any] | None = None,
                 **kwargs: Unpack[FieldOptions]) -> None:
        if serialize is None:
            kwargs["load_only"] = True
        if deserialize is None:
            kwargs["dump_only"] = True
        super().__init__(**kwargs)
        self.serialize_fn = serialize
        self.deserialize_fn = deserialize

    def serialize(self, attr: str, obj: Any, schema: type[Schema]) -> Any:
        return self.serialize_fn(obj)  # type: ignore[misc]  # dump-only unless given

    def _deserialize_hook(self, value: Any, attr: str | None, data: Any) -> Any:
        return self.deserialize_fn(value)  # type: ignore[misc]  # load-only unless given

    def load_element(self) -> Element | None:
        return (LoadTag.CALL_FIELD_ALT1, self._deserialize_hook)

    def load_value(self, value: Any, partial: Selection) -> Any:
        return host_call("invalid value", self._deserialize_hook, value, None, None)


class Custom(Field):
    """Base for user fields: override ``_serialize(value, attr, obj)`` and
    ``_deserialize(value, attr, data)``. The plan calls them with ``attr`` and
    ``obj``/``data`` set to ``None``, and calls ``_serialize`` for ``None`` too."""

    def _serialize(self, value: Any, attr: str | None, obj: Any) -> Any:
        return value

    def _deserialize(self, value: Any, attr: str | None, data: Any) -> Any:
        return value

    def dump_element(self) -> Element | None:
        return (DumpTag.CALL_FIELD, self._serialize)

    def load_element(self) -> Element | None:
        return (LoadTag.CALL_FIELD, self._deserialize)

    def dump_value(self, value: Any) -> Any:
        return self._serialize(value, None, None)

    def load_value(self, value: Any, partial: Selection) -> Any:
        return host_call("invalid value", self._deserialize, value, None, None)


__all__ = [
    "Field", "Raw", "Str", "Int", "Float", "Bool", "Uuid", "IP", "DateTime", "Date", "Time",
    "Enum", "Constant", "Nested", "Pluck", "List", "Tuple", "Dict", "Function", "Custom",
    "MISSING", "TRUTHY", "FALSY", "FieldOptions",
]

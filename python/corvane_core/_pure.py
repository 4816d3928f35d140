"""The pure-Python dump and load: the reference the accelerated plans must match.

Written plainly, record by record and field by field, with the same lookups, the
same order of steps and the same ``None``, default and partial rules as the plans.
Where the accelerated load gives up, this path reports a ``ValidationError``
naming every failing location.
"""

from __future__ import annotations

from collections.abc import Callable, Collection
from typing import TYPE_CHECKING, Any, Literal, TypeAlias, TypeVar

from corvane_core._missing import MISSING
from corvane_core._payload import INCLUDE, RAISE
from corvane_core.errors import ErrorList, ValidationError

if TYPE_CHECKING:
    from corvane_core.fields import Field
    from corvane_core.schema import Schema

_T = TypeVar("_T")

Partial: TypeAlias = "bool | Collection[str] | None"
"""What a caller passes: ``True``/``False``, ``None`` or field names (dotted for nested)."""
Selection: TypeAlias = "Literal[True] | Collection[str] | None"
"""One level's partial selection: none, all, or names."""

# Marks "key not in the input", which must stay distinct from a value that happens
# to be the MISSING sentinel itself.
_ABSENT = object()

_SWALLOWED_BY_ITEM_ACCESS = (KeyError, IndexError, TypeError, AttributeError)


def host_call(message: str, function: Callable[..., _T], *args: Any, **kwargs: Any) -> _T:
    """Runs host code whose failure counts as invalid input.

    The accelerated load turns any exception of such a call into a fallback (all but
    KeyboardInterrupt and SystemExit), so this path reports it as a failure.
    """
    try:
        return function(*args, **kwargs)
    except ValidationError:
        raise
    except Exception as exc:
        raise ValidationError(message) from exc


# -- dump -----------------------------------------------------------------------------

def get_one(obj: Any, key: Any) -> Any:
    """One lookup: mapping items before attributes; MISSING when neither exists."""
    if type(obj) is dict:
        value = dict.get(obj, key, _ABSENT)
        if value is not _ABSENT:
            return value
        return getattr(obj, key, MISSING)
    if hasattr(obj, "__getitem__"):
        try:
            return obj[key]
        except _SWALLOWED_BY_ITEM_ACCESS:
            pass
    return getattr(obj, key, MISSING)


def get_value(obj: Any, attribute: Any, path: list[str] | None) -> Any:
    if path is None:
        return get_one(obj, attribute)
    # No early stop: a MISSING midway is looked into like any object, as the plan does.
    for piece in path:
        obj = get_one(obj, piece)
    return obj


def dump(schema: type[Schema], obj: Any, many: bool) -> dict[str, Any] | list[dict[str, Any]]:
    if not many or obj is None:
        return dump_one(schema, obj)
    return [dump_one(schema, item) for item in obj]


def dump_one(schema: type[Schema], obj: Any) -> dict[str, Any]:
    out: dict[str, Any] = {}
    for field in schema._dump_fields:
        if field.dump_delegates:
            value = field.serialize(field.attribute, obj, schema)
            if value is MISSING:
                continue
            out[field.data_key] = value
            continue
        value = get_value(obj, field.attribute, field.path)
        if value is MISSING:
            value = field.dump_default
        if value is MISSING:
            continue
        out[field.data_key] = field.dump_value(value)
    return out


# -- partial selections -----------------------------------------------------------------

def partial_from_arg(partial: Partial) -> Selection:
    """``None`` (no field partial), ``True`` (all) or the caller's name collection."""
    if type(partial) is bool:
        return True if partial else None
    return partial


def derive(partial: Selection, name: str) -> Selection:
    """The selection one level below the field ``name``."""
    if partial is None or partial is True:
        return partial
    prefix = str.encode(name, "utf-8") + b"."
    out: list[str] = []
    for entry in partial:
        if not isinstance(entry, str):
            raise ValidationError(f"partial entries must be strings, got {type(entry).__name__}")
        # Compared as UTF-8 so that overridden str methods play no part.
        text = str.encode(entry, "utf-8")
        if text.startswith(prefix):
            out.append(text[len(prefix):].decode("utf-8"))
    return out


# -- load -------------------------------------------------------------------------------

def load(schema: type[Schema], data: Any, many: bool, partial: Partial,
         unknown: str | None = None) -> dict[str, Any] | list[dict[str, Any]]:
    """A whole load call: ``partial`` as given by the caller, ``unknown`` the policy
    of the top level (nested schemas keep their own)."""
    partial = partial_from_arg(partial)
    policy = schema._unknown if unknown is None else unknown
    if many:
        return load_many(schema, data, partial, policy)
    return load_one(schema, data, partial, policy)


def load_nested(schema: type[Schema], value: Any, many: bool,
                partial: Selection) -> dict[str, Any] | list[dict[str, Any]]:
    if many:
        return load_many(schema, value, partial, schema._unknown)
    return load_one(schema, value, partial, schema._unknown)


def load_many(schema: type[Schema], data: Any, partial: Selection, policy: str) -> list[dict[str, Any]]:
    if not isinstance(data, (list, tuple)):
        raise ValidationError("expected a list of objects")
    results: list[dict[str, Any]] = []
    errors: ErrorList = []
    for index, item in enumerate(data):
        try:
            results.append(load_one(schema, item, partial, policy))
        except ValidationError as exc:
            errors.extend(exc.under(index))
    if errors:
        raise ValidationError(errors)
    return results


def load_one(schema: type[Schema], data: Any, partial: Selection, policy: str) -> dict[str, Any]:
    if not isinstance(data, dict):
        raise ValidationError("expected an object")
    result: dict[str, Any] = {}
    errors: ErrorList = []
    for field in schema._load_fields:
        try:
            _load_field(field, data, result, partial)
        except ValidationError as exc:
            errors.extend(exc.under(field.data_key))
    known = schema._known_keys
    if policy == RAISE:
        for key in list(dict.keys(data)):
            if key not in known:
                errors.append(((key,), "unknown field"))
    elif policy == INCLUDE:
        for key, value in dict.items(data):
            if key not in known:
                result[key] = value
    if errors:
        raise ValidationError(errors)
    return result


def _load_field(field: Field, data: dict[Any, Any], result: dict[str, Any], partial: Selection) -> None:
    # Plain dict lookup: a dict subclass's own get/__getitem__ is not consulted.
    raw = dict.get(data, field.data_key, _ABSENT)
    if raw is _ABSENT:
        if partial is True:
            return
        if partial is not None and field.name in partial:
            return
    if field.load_delegates:
        value = _load_delegated(field, data, MISSING if raw is _ABSENT else raw, partial)
        if value is MISSING:
            return
    elif raw is _ABSENT:
        if field.required:
            raise ValidationError("missing required field")
        if field.load_default is MISSING:
            return
        value = field.load_default
    elif raw is None:
        if not field.allow_none:
            raise ValidationError("null is not allowed")
        value = None
    else:
        selection = partial if partial is None or partial is True else derive(partial, field.name)
        value = field.load_inner(raw, selection)
    set_load_value(result, field, value)


def _load_delegated(field: Field, data: dict[Any, Any], value: Any, partial: Selection) -> Any:
    """The call a plan makes for a field it leaves to the host."""
    if partial is None:
        return host_call("invalid value", field.deserialize, value, field.name, data)
    selection = True if partial is True else derive(partial, field.name)
    return host_call("invalid value", field.deserialize, value, field.name, data, partial=selection)


def set_load_value(result: dict[str, Any], field: Field, value: Any) -> None:
    """Stores under the field's attribute; a dotted one builds nested dicts."""
    if field.path is None:
        result[field.attribute] = value
        return
    target = result
    for piece in field.path[:-1]:
        inner = dict.get(target, piece, _ABSENT)
        if inner is _ABSENT:
            inner = {}
            dict.__setitem__(target, piece, inner)
        elif not isinstance(inner, dict):
            raise ValidationError(f"cannot store {field.attribute!r}: {piece!r} already holds a non-mapping")
        target = inner
    dict.__setitem__(target, field.path[-1], value)

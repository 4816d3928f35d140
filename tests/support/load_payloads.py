"""Builders for load payloads, so tests read as schemas rather than nested tuples."""

from corvane_core._core import LoadDeserializer


class _Missing:
    def __repr__(self):
        return "<missing>"


# The sentinel every plan built here is constructed with.
MISSING = _Missing()

REJECT, IGNORE, KEEP = 0, 1, 2

# Elements without members.
PASS, TEXT, INT, DICT_COPY, STRICT_INT = (0,), (1,), (2,), (10,), (13,)


def float_(allow_non_finite=False):
    return (3, allow_non_finite)


def nested(plan_payload):
    return (4, plan_payload)


def list_of(child, items_nullable=False):
    return (5, child, items_nullable)


def enum_member(cls, use_value, child=PASS):
    return (6, cls, use_value, child)


def uuid(cls):
    return (7, cls)


def instance_or_call(cls, converter):
    return (8, cls, converter)


def call(function, tag=9):
    return (tag, function)


def constant(value):
    return (11, value)


def bool_set(true_values, false_values):
    return (12, true_values, false_values)


def dict_of(key=None, key_validators=(), value=None, value_validators=()):
    return (14, key, list(key_validators), value, list(value_validators))


def tuple_of(*items):
    return (15, tuple(items))


def nested_key(plan_payload, key, many=False):
    return (16, plan_payload, key, many)


def bounds(lower=None, upper=None, lower_inclusive=True, upper_inclusive=True):
    return (0, lower, upper, lower_inclusive, upper_inclusive)


def size_limit(min_len=None, max_len=None, exact_len=None):
    return (1, min_len, max_len, exact_len)


def member_of(c):
    return (2, c)


def equal_to(t):
    return (3, t)


def not_member_of(c):
    return (4, c)


def items_in(c):
    return (5, c)


def callback(fn):
    return (6, fn)


def direct(key, element=PASS, *, attribute=None, name=None, default=MISSING, required=False,
           nullable=False, validators=()):
    return (False, key, attribute or key, name or key, default, required, nullable, element,
            list(validators))


def delegate(key, field, *, attribute=None, name=None):
    return (True, key, name or key, attribute or key, field)


def plan(*fields, extra=IGNORE, known=None, many=False):
    """A plan payload; `known` defaults to the fields' input keys."""
    if known is None:
        known = frozenset(f[1] for f in fields)
    return (many, extra, known, list(fields))


def loader(*fields, **kw):
    return LoadDeserializer(plan(*fields, **kw), MISSING)


def one(element, value, *, partial=False, **field_kw):
    """Loads `value` through a one-field plan and returns the loaded field value."""
    return loader(direct("v", element, **field_kw)).run({"v": value}, False, partial)["v"]

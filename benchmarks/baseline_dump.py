"""A plainly written pure-Python interpreter of dump payloads: field objects that fetch a
value and convert it, the way a schema library's own dump path works.

It is the dump benchmark's yardstick and stays unchanged: faster native code is
measured against it, not the other way round.
"""


class Fallback(Exception):
    """The shapes the native dump declines as well."""


def get_one(obj, key, missing):
    if type(obj) is dict:
        if key in obj:
            return obj[key]
        return getattr(obj, key, missing)
    if hasattr(obj, "__getitem__"):
        try:
            return obj[key]
        except (KeyError, IndexError, TypeError, AttributeError):
            pass
    return getattr(obj, key, missing)


class Passthrough:
    def serialize(self, value):
        return value


class Text:
    def serialize(self, value):
        if value is None:
            return None
        if isinstance(value, bytes):
            return value.decode("utf-8")
        return str(value)


class Number:
    def __init__(self, kind, as_text):
        self.kind = kind
        self.as_text = as_text

    def serialize(self, value):
        if value is None:
            return None
        if not self.as_text and type(value) is self.kind:
            return value
        result = self.kind(value)
        return str(result) if self.as_text else result


class Nested:
    def __init__(self, schema, many):
        self.schema = schema
        self.many = many

    def serialize(self, value):
        if value is None:
            return None
        return self.schema.dump(value, self.many)


class ListOf:
    def __init__(self, child):
        self.child = child

    def serialize(self, value):
        if value is None:
            return None
        return [self.child.serialize(item) for item in value]


class Stringify:
    def serialize(self, value):
        return None if value is None else str(value)


class DateFormat:
    def __init__(self, formatter, fmt):
        self.formatter = formatter
        self.fmt = fmt

    def serialize(self, value):
        if value is None:
            return None
        if self.formatter is not None:
            return self.formatter(value)
        return value.strftime(self.fmt)


class EnumMember:
    def __init__(self, use_value, child):
        self.use_value = use_value
        self.child = child

    def serialize(self, value):
        if value is None:
            return None
        return self.child.serialize(value.value if self.use_value else value.name)


class CallField:
    def __init__(self, function):
        self.function = function

    def serialize(self, value):
        return self.function(value, None, None)


class DictCopy:
    def serialize(self, value):
        return None if value is None else dict(value)


class Constant:
    def __init__(self, value):
        self.value = value

    def serialize(self, value):
        return self.value


class DictOf:
    def __init__(self, key, value):
        self.key = key
        self.value = value

    def serialize(self, value):
        if value is None:
            return None
        if not isinstance(value, dict):
            raise Fallback
        out = {}
        for k, v in dict.items(value):
            k = k if self.key is None else self.key.serialize(k)
            out[k] = v if self.value is None else self.value.serialize(v)
        return out


class TupleOf:
    def __init__(self, items):
        self.items = items

    def serialize(self, value):
        if value is None:
            return None
        if not isinstance(value, (list, tuple)) or len(value) != len(self.items):
            raise Fallback
        return tuple(item.serialize(v) for item, v in zip(self.items, value))


class NestedKey:
    def __init__(self, schema, key, many):
        self.schema = schema
        self.key = key
        self.many = many

    def serialize(self, value):
        if value is None:
            return None
        result = self.schema.dump(value, self.many)
        if not self.many:
            return result[self.key]
        return [d[self.key] for d in result]


class DirectField:
    def __init__(self, out_key, attribute, default, element, missing):
        self.out_key = out_key
        self.attribute = attribute
        self.path = attribute.split(".") if "." in attribute else None
        self.default = default
        self.element = element
        self.missing = missing

    def get_value(self, obj):
        if self.path is None:
            return get_one(obj, self.attribute, self.missing)
        for piece in self.path:
            obj = get_one(obj, piece, self.missing)
        return obj

    def dump_into(self, obj, out):
        value = self.get_value(obj)
        if value is self.missing:
            value = self.default
            if value is self.missing:
                return
        out[self.out_key] = self.element.serialize(value)


class DelegateField:
    def __init__(self, out_key, attribute, field, schema):
        self.out_key = out_key
        self.attribute = attribute
        self.field = field
        self.schema = schema

    def dump_into(self, obj, out):
        result = self.field.serialize(self.attribute, obj, self.schema.serialize_arg)
        if result is not self.schema.missing:
            out[self.out_key] = result


def build_element(payload, missing):
    tag = payload[0]
    if tag == 0:
        return Passthrough()
    if tag == 1:
        return Text()
    if tag in (2, 3):
        return Number(int if tag == 2 else float, payload[1])
    if tag == 4:
        return Nested(Schema(payload[1], missing), payload[2])
    if tag == 5:
        return ListOf(build_element(payload[1], missing))
    if tag in (6, 16):
        return Stringify()
    if tag == 7:
        return DateFormat(payload[1], payload[2])
    if tag == 8:
        return EnumMember(payload[1], build_element(payload[2], missing))
    if tag in (9, 12):
        return CallField(payload[1])
    if tag == 10:
        return DictCopy()
    if tag == 11:
        return Constant(payload[1])
    if tag == 13:
        key, value = payload[1], payload[2]
        return DictOf(
            None if key is None else build_element(key, missing),
            None if value is None else build_element(value, missing),
        )
    if tag == 14:
        return TupleOf([build_element(p, missing) for p in payload[1]])
    if tag == 15:
        return NestedKey(Schema(payload[1], missing), payload[2], payload[3])
    raise ValueError(f"unknown element tag {tag}")


class Schema:
    def __init__(self, payload, missing):
        self.serialize_arg = payload[0]
        self.missing = missing
        self.fields = []
        for entry in payload[1]:
            if entry[0]:
                self.fields.append(DelegateField(entry[1], entry[2], entry[3], self))
            else:
                element = build_element(entry[4], missing)
                self.fields.append(DirectField(entry[1], entry[2], entry[3], element, missing))

    def dump(self, obj, many=False):
        if many and obj is not None:
            return [self.dump_one(item) for item in obj]
        return self.dump_one(obj)

    def dump_one(self, obj):
        out = {}
        for field in self.fields:
            field.dump_into(obj, out)
        return out

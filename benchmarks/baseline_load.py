"""The yardstick for the load benchmark: a schema load written plainly in Python.

Field objects look a value up, convert it, run their validators and collect error
messages per field, the way a pure-Python schema library does it. Keep it unchanged so
that figures stay comparable between runs.
"""

MISSING = object()


class ValidationError(Exception):
    def __init__(self, messages):
        super().__init__(messages)
        self.messages = messages if isinstance(messages, (list, dict)) else [messages]


class Field:
    def __init__(self, key, *, attribute=None, required=False, default=MISSING, allow_none=False,
                 validators=()):
        self.key = key
        self.attribute = attribute or key
        self.required = required
        self.default = default
        self.allow_none = allow_none
        self.validators = list(validators)

    def convert(self, value):
        raise NotImplementedError

    def deserialize(self, value):
        if value is None:
            if self.allow_none:
                return None
            raise ValidationError("Field may not be null.")
        result = self.convert(value)
        for validator in self.validators:
            validator(result)
        return result


class Str(Field):
    def convert(self, value):
        if type(value) is str:
            return value
        if isinstance(value, bytes):
            try:
                return value.decode("utf-8")
            except UnicodeDecodeError:
                raise ValidationError("Not a valid utf-8 string.") from None
        raise ValidationError("Not a valid string.")


class Int(Field):
    def convert(self, value):
        if type(value) is bool:
            raise ValidationError("Not a valid integer.")
        if type(value) is int:
            return value
        try:
            return int(value)
        except (TypeError, ValueError):
            raise ValidationError("Not a valid integer.") from None


class Float(Field):
    def convert(self, value):
        if type(value) is bool:
            raise ValidationError("Not a valid number.")
        try:
            result = value if type(value) is float else float(value)
        except (TypeError, ValueError):
            raise ValidationError("Not a valid number.") from None
        if result != result or result in (float("inf"), float("-inf")):
            raise ValidationError("Special numeric values (nan or infinity) are not permitted.")
        return result


class Bool(Field):
    truthy = {True, 1, "true", "True", "1", "yes"}
    falsy = {False, 0, "false", "False", "0", "no"}

    def convert(self, value):
        try:
            if value in self.truthy:
                return True
            if value in self.falsy:
                return False
        except TypeError:
            pass
        raise ValidationError("Not a valid boolean.")


class Nested(Field):
    def __init__(self, key, schema, **kw):
        super().__init__(key, **kw)
        self.schema = schema

    def convert(self, value):
        result, errors = self.schema.load_one(value)
        if errors:
            raise ValidationError(errors)
        return result


class List(Field):
    def __init__(self, key, inner, **kw):
        super().__init__(key, **kw)
        self.inner = inner

    def convert(self, value):
        if not isinstance(value, (list, tuple)):
            raise ValidationError("Not a valid list.")
        result, errors = [], {}
        for i, item in enumerate(value):
            try:
                result.append(self.inner.deserialize(item))
            except ValidationError as e:
                errors[i] = e.messages
        if errors:
            raise ValidationError(errors)
        return result


class Range:
    def __init__(self, min=None, max=None):
        self.min, self.max = min, max

    def __call__(self, value):
        if self.min is not None and value < self.min:
            raise ValidationError(f"Must be greater than or equal to {self.min}.")
        if self.max is not None and value > self.max:
            raise ValidationError(f"Must be less than or equal to {self.max}.")


class Schema:
    def __init__(self, fields, *, unknown="raise"):
        self.fields = list(fields)
        self.unknown = unknown
        self.known = frozenset(f.key for f in self.fields)

    def load_one(self, data):
        if not isinstance(data, dict):
            return None, {"_schema": ["Invalid input type."]}
        result, errors = {}, {}
        for field in self.fields:
            raw = data.get(field.key, MISSING)
            if raw is MISSING:
                if field.required:
                    errors[field.key] = ["Missing data for required field."]
                elif field.default is not MISSING:
                    result[field.attribute] = field.default
                continue
            try:
                result[field.attribute] = field.deserialize(raw)
            except ValidationError as e:
                errors[field.key] = e.messages
        if self.unknown == "raise":
            for key in data:
                if key not in self.known:
                    errors[key] = ["Unknown field."]
        elif self.unknown == "include":
            for key, value in data.items():
                if key not in self.known:
                    result[key] = value
        return result, errors

    def load(self, data, many=False):
        if not many:
            result, errors = self.load_one(data)
        else:
            result, errors = [], {}
            for i, item in enumerate(data):
                one, item_errors = self.load_one(item)
                result.append(one)
                if item_errors:
                    errors[i] = item_errors
        if errors:
            raise ValidationError(errors)
        return result

"""Plain Python interpreters of both payloads, read straight off the tuples, step for
step in the order the plans take them. They are the fuzzers' oracle: a native call
must do exactly what these do (same value, same fallback, same exception type).
Only well-formed payloads are interpreted; decoding is the native side's job."""

import math

from kit import MISSING, Fallback

_ABSENT = object()
_SWALLOWED = (KeyError, IndexError, TypeError, AttributeError)


def _path(attribute):
    return attribute.split(".") if "." in attribute else None


# -- dump ----------------------------------------------------------------------------------
#
# A plan that can fall back anywhere takes no one-shot iterator: a fallback after it had
# drained one would leave the host's re-run an empty iterator.

REITERABLE = (list, tuple, dict, set, frozenset, str, bytes)


def may_fall_back(schema):
    return any(not f[0] and _element_may_fall_back(f[4]) for f in schema[1])


def _element_may_fall_back(e):
    tag = e[0]
    if tag in (13, 14):
        return True
    if tag in (4, 15):
        return may_fall_back(e[1])
    if tag in (5, 8):
        return _element_may_fall_back(e[-1])
    return False


class Dump:
    def __init__(self, schema):
        self.schema = schema
        self.strict = may_fall_back(schema)

    def run(self, obj, many):
        return dump(self.schema, obj, many, self.strict)


def _items(v, strict):
    if strict and not isinstance(v, REITERABLE):
        raise Fallback
    return v


def dump(schema, obj, many, strict=None):
    if strict is None:
        strict = may_fall_back(schema)
    if not many or obj is None:
        return dump_one(schema, obj, strict)
    out = []
    for item in _items(obj, strict):
        out.append(dump_one(schema, item, strict))
    return out


def dump_one(schema, obj, strict):
    arg, fields = schema
    out = {}
    for f in fields:
        if f[0]:
            r = f[3].serialize(f[2], obj, arg)
            if r is not MISSING:
                out[f[1]] = r
            continue
        value = get_value(obj, f[2])
        if value is MISSING:
            value = f[3]
        if value is MISSING:
            continue
        out[f[1]] = apply_dump(f[4], value, strict)
    return out


def get_one(obj, key):
    if type(obj) is dict:
        value = dict.get(obj, key, _ABSENT)
        if value is not _ABSENT:
            return value
        return getattr(obj, key, MISSING)
    if hasattr(obj, "__getitem__"):
        try:
            return obj[key]
        except _SWALLOWED:
            pass
    return getattr(obj, key, MISSING)


def get_value(obj, attribute):
    path = _path(attribute)
    if path is None:
        return get_one(obj, attribute)
    for piece in path:
        obj = get_one(obj, piece)
    return obj


def apply_dump(e, v, strict):
    tag = e[0]
    if tag == 0:
        return v
    if tag == 11:
        return e[1]
    if tag in (9, 12):
        return e[1](v, None, None)
    if v is None:
        return None
    if tag == 1:
        return v.decode("utf-8") if isinstance(v, bytes) else str(v)
    if tag in (2, 3):
        exact, conv = (int, int) if tag == 2 else (float, float)
        if not e[1] and type(v) is exact:
            return v
        r = conv(v)
        return str(r) if e[1] else r
    if tag == 4:
        return dump(e[1], v, e[2], strict)
    if tag == 5:
        return [apply_dump(e[1], x, strict) for x in _items(v, strict)]
    if tag in (6, 16):
        return str(v)
    if tag == 7:
        return e[1](v) if e[1] is not None else v.strftime(e[2])
    if tag == 8:
        return apply_dump(e[2], v.value if e[1] else v.name, strict)
    if tag == 10:
        return dict(v)
    if tag == 13:
        if not isinstance(v, dict):
            raise Fallback
        out = {}
        for k, x in dict.items(v):
            k = apply_dump(e[1], k, strict) if e[1] is not None else k
            out[k] = apply_dump(e[2], x, strict) if e[2] is not None else x
        return out
    if tag == 14:
        items = e[1]
        if not isinstance(v, (list, tuple)) or len(v) != len(items):
            raise Fallback
        out = []
        for x in v:
            if len(out) == len(items):
                raise Fallback
            out.append(apply_dump(items[len(out)], x, strict))
        if len(out) != len(items):
            raise Fallback
        return tuple(out)
    if tag == 15:
        r = dump(e[1], v, e[3], strict)
        return [d[e[2]] for d in r] if e[3] else r[e[2]]
    raise AssertionError(f"dump tag {tag}")


# -- load ----------------------------------------------------------------------------------

NONE, ALL = ("none",), ("all",)


def partial_of(arg):
    if type(arg) is bool:
        return ALL if arg else NONE
    if arg is None:
        return NONE
    return ("names", arg)


def derive(partial, name):
    if partial[0] != "names":
        return partial
    if _consumable(partial[1]):
        raise Fallback
    prefix = str.encode(name, "utf-8") + b"."
    out = []
    for entry in partial[1]:
        if not isinstance(entry, str):
            raise Fallback
        text = str.encode(entry, "utf-8")
        if text.startswith(prefix):
            out.append(text[len(prefix):].decode("utf-8"))
    return ("names", out)


def _consumable(x):
    return not isinstance(x, REITERABLE) and hasattr(type(x), "__next__")


def _fallback_on_error(fn, *args, **kwargs):
    try:
        return fn(*args, **kwargs)
    except (KeyboardInterrupt, SystemExit):
        raise
    except Exception:
        raise Fallback from None


def load(plan, data, many, partial):
    if not many:
        return load_one(plan, data, partial)
    if not isinstance(data, (list, tuple)):
        raise Fallback
    out = []
    for item in data:
        out.append(load_one(plan, item, partial))
    return out


def _skipped(partial, name):
    if partial[0] == "all":
        return True
    return partial[0] == "names" and name in partial[1]


def load_one(plan, data, partial):
    _, extra, known, fields = plan
    if not isinstance(data, dict):
        raise Fallback
    result = {}
    for f in fields:
        raw = dict.get(data, f[1], _ABSENT)
        if f[0]:
            name, attribute, field = f[2], f[3], f[4]
            if raw is _ABSENT:
                if _skipped(partial, name):
                    continue
                raw = MISSING
            if partial[0] == "none":
                r = _fallback_on_error(lambda: field.deserialize(raw, name, data))
            else:
                selection = True if partial[0] == "all" else derive(partial, name)[1]
                r = _fallback_on_error(lambda: field.deserialize(raw, name, data, partial=selection))
            if r is not MISSING:
                store(result, attribute, r)
            continue
        _, _, attribute, name, default, required, nullable, element, checks = f
        if raw is _ABSENT:
            if _skipped(partial, name):
                continue
            if required:
                raise Fallback
            if default is not MISSING:
                store(result, attribute, default)
            continue
        if raw is None:
            if not nullable:
                raise Fallback
            store(result, attribute, None)
            continue
        value = apply_load(element, raw, derive(partial, name))
        run_checks(checks, value)
        store(result, attribute, value)
    if extra == 0:
        for key in list(dict.keys(data)):
            if key not in known:
                raise Fallback
    elif extra == 2:
        for key, value in dict.items(data):
            if key not in known:
                result[key] = value
    return result


def store(result, attribute, value):
    path = _path(attribute)
    if path is None:
        result[attribute] = value
        return
    target = result
    for piece in path[:-1]:
        inner = dict.get(target, piece, _ABSENT)
        if inner is _ABSENT:
            inner = {}
            target[piece] = inner
        elif not isinstance(inner, dict):
            raise Fallback
        target = inner
    target[path[-1]] = value


def valid(check, v):
    tag = check[0]
    if tag == 0:
        lo, hi, lo_in, hi_in = check[1:5]
        if lo is not None and ((v < lo) if lo_in else (v <= lo)):
            return False
        if hi is not None and ((v > hi) if hi_in else (v >= hi)):
            return False
        return True
    if tag == 1:
        n = len(v)
        lo, hi, exact = check[1:4]
        if exact is not None:
            return n == exact
        return not ((lo is not None and n < lo) or (hi is not None and n > hi))
    if tag == 2:
        return v in check[1]
    if tag == 3:
        return bool(v == check[1])
    if tag == 4:
        try:
            return not (v in check[1])
        except TypeError:
            return True
    if tag == 5:
        if _consumable(v):
            raise Fallback
        return all(item in check[1] for item in v)
    return check[1](v) is not False


def run_checks(checks, value):
    for c in checks:
        if not _fallback_on_error(valid, c, value):
            raise Fallback


def apply_load(e, v, partial):
    tag = e[0]
    if tag == 0:
        return v
    if tag == 1:
        if type(v) is str:
            return v
        if isinstance(v, bytes):
            return _fallback_on_error(lambda: v.decode("utf-8"))
        raise Fallback
    if tag in (2, 13):
        if type(v) is bool:
            raise Fallback
        if type(v) is int:
            return v
        if tag == 13:
            raise Fallback
        return _fallback_on_error(int, v)
    if tag == 3:
        if type(v) is bool:
            raise Fallback
        cand = v if type(v) is float else _fallback_on_error(float, v)
        if not e[1] and not math.isfinite(float(cand)):
            raise Fallback
        return cand
    if tag == 4:
        nested = e[1]
        return load(nested, v, True, partial) if nested[0] else load_one(nested, v, partial)
    if tag == 5:
        if not isinstance(v, (list, tuple)):
            raise Fallback
        out = []
        for x in v:
            if x is None:
                if not e[2]:
                    raise Fallback
                out.append(None)
            else:
                out.append(apply_load(e[1], x, partial))
        return out
    if tag == 6:
        cls, by_value, child = e[1], e[2], e[3]
        if isinstance(v, cls):
            return v
        raw = apply_load(child, v, partial)
        return _fallback_on_error(lambda: cls(raw) if by_value else cls[raw])
    if tag == 7:
        cls = e[1]
        if isinstance(v, cls):
            return v
        if isinstance(v, bytes) and len(v) == 16:
            return _fallback_on_error(lambda: cls(bytes=v))
        return _fallback_on_error(cls, v)
    if tag == 8:
        if isinstance(v, e[1]):
            return v
        return _fallback_on_error(e[2], v)
    if tag in (9, 17, 18, 19):
        return _fallback_on_error(e[1], v, None, None)
    if tag == 10:
        if not isinstance(v, dict):
            raise Fallback
        return dict(v)
    if tag == 11:
        return e[1]
    if tag == 12:
        for container, answer in ((e[1], True), (e[2], False)):
            try:
                hit = v in container
            except BaseException:
                raise Fallback from None
            if hit:
                return answer
        raise Fallback
    if tag == 14:
        if not isinstance(v, dict):
            raise Fallback
        key_el, key_checks, value_el, value_checks = e[1], e[2], e[3], e[4]
        out = {}
        for k, x in dict.items(v):
            if key_el is not None:
                if k is None:
                    raise Fallback
                k = apply_load(key_el, k, partial)
                run_checks(key_checks, k)
            if value_el is not None:
                if x is None:
                    raise Fallback
                x = apply_load(value_el, x, partial)
                run_checks(value_checks, x)
            out[k] = x
        return out
    if tag == 15:
        items = e[1]
        if not isinstance(v, (list, tuple)) or len(v) != len(items):
            raise Fallback
        out = []
        for x in v:
            if len(out) == len(items) or x is None:
                raise Fallback
            out.append(apply_load(items[len(out)], x, partial))
        if len(out) != len(items):
            raise Fallback
        return tuple(out)
    if tag == 16:
        nested, key, many = e[1], e[2], e[3]
        if not many:
            return load_one(nested, {key: v}, partial)
        if not isinstance(v, (list, tuple)):
            raise Fallback
        return [load_one(nested, {key: x}, partial) for x in v]
    raise AssertionError(f"load tag {tag}")

"""The benchmark batches: the same records as plain class instances and as dicts, and
the dump payloads that describe them.

Plain batch: 12 attributes per record (4 str, 4 int, a float, a bool, a nested object
and a list of three nested objects), `city` reached through the dotted `address.city`.
Rich batch: the same plus a datetime formatted with strftime and an enum member.
"""

import datetime
import enum
import random

N = 10_000
DATE_FORMAT = "%Y-%m-%dT%H:%M:%S"



class Missing:
    def __repr__(self):
        return "<missing>"


MISSING = Missing()

# Dump payload element tags.
PASS, TEXT, INT, FLOAT, NESTED, DATE, ENUM = 0, 1, 2, 3, 4, 7, 8


class Status(enum.Enum):
    ACTIVE = "active"
    IDLE = "idle"
    GONE = "gone"


class Address:
    def __init__(self, city):
        self.city = city


class Person:
    def __init__(self, id, name):
        self.id = id
        self.name = name


class Item:
    def __init__(self, sku, qty):
        self.sku = sku
        self.qty = qty


class Record:
    def __init__(self, **attrs):
        self.__dict__.update(attrs)


def _field(key, element, attr=None, missing=None):
    return (False, key, attr or key, missing, element)


def payloads(missing):
    """(plain, rich) dump payloads; `missing` is the sentinel the plans are built with."""
    person = (None, [_field("id", (INT, False), missing=missing), _field("name", (TEXT,), missing=missing)])
    item = (None, [_field("sku", (TEXT,), missing=missing), _field("qty", (INT, False), missing=missing)])
    plain = [
        _field("id", (INT, False), missing=missing),
        _field("age", (INT, False), missing=missing),
        _field("score", (INT, False), missing=missing),
        _field("rank", (INT, False), missing=missing),
        _field("name", (TEXT,), missing=missing),
        _field("email", (TEXT,), missing=missing),
        _field("city", (TEXT,), "address.city", missing=missing),
        _field("code", (TEXT,), missing=missing),
        _field("ratio", (FLOAT, False), missing=missing),
        _field("active", (PASS,), missing=missing),
        _field("owner", (NESTED, person, False), missing=missing),
        _field("items", (NESTED, item, True), missing=missing),
    ]
    rich = plain + [
        _field("created", (DATE, None, DATE_FORMAT), missing=missing),
        _field("status", (ENUM, True, (PASS,)), missing=missing),
    ]
    return (None, plain), (None, rich)


def _values(i, rng):
    return {
        "id": i,
        "age": rng.randrange(18, 90),
        "score": rng.randrange(1_000_000),
        "rank": rng.randrange(100),
        "name": f"user{i}",
        "email": f"user{i}@example.org",
        "city": rng.choice(["Lyon", "Kyoto", "Quito", "Oslo"]),
        "code": f"C{i % 997:04d}",
        "ratio": rng.random(),
        "active": i % 3 != 0,
        "owner": (i * 7, f"owner{i}"),
        "items": [(f"sku-{i}-{k}", k + 1) for k in range(3)],
        "created": datetime.datetime(2024, 1, 1) + datetime.timedelta(minutes=i),
        "status": list(Status)[i % 3],
    }


def records(rich=False, n=N, seed=7):
    """(objects, dicts): the same records as class instances and as plain dicts.

    Each batch is built in a pass of its own, so that its records lie together in
    memory as they would in a program that made them, rather than interleaved."""
    rng = random.Random(seed)
    values = []
    for i in range(n):
        v = _values(i, rng)
        if not rich:
            del v["created"], v["status"]
        values.append(v)
    objs = []
    for v in values:
        v = dict(v)
        owner_id, owner_name = v.pop("owner")
        items = v.pop("items")
        city = v.pop("city")
        objs.append(
            Record(
                **v,
                address=Address(city),
                owner=Person(owner_id, owner_name),
                items=[Item(s, q) for s, q in items],
            )
        )
    dicts = []
    for v in values:
        v = dict(v)
        owner_id, owner_name = v.pop("owner")
        items = v.pop("items")
        city = v.pop("city")
        dicts.append(
            {
                **v,
                "address": {"city": city},
                "owner": {"id": owner_id, "name": owner_name},
                "items": [{"sku": s, "qty": q} for s, q in items],
            }
        )
    return objs, dicts


def pydantic_dump_model(rich):
    """A pydantic model of the same shape as the dump batch's records."""
    from typing import Annotated

    from pydantic import BaseModel, PlainSerializer

    class PersonM(BaseModel):
        id: int
        name: str

    class ItemM(BaseModel):
        sku: str
        qty: int

    class RecordM(BaseModel):
        id: int
        age: int
        score: int
        rank: int
        name: str
        email: str
        city: str
        code: str
        ratio: float
        active: bool
        owner: PersonM
        items: list[ItemM]

    class RichRecordM(RecordM):
        created: Annotated[datetime.datetime, PlainSerializer(lambda d: d.strftime(DATE_FORMAT))]
        status: Annotated[Status, PlainSerializer(lambda s: s.value)]

    return RichRecordM if rich else RecordM

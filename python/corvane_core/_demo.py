"""The demo behind ``python -m corvane_core``: an order schema, a generated batch,
an agreement check between the two paths, and a side-by-side throughput table.

Every job runs on the same batch in the same process, the implementations taking
turns within each repeat, and the best repeat counts.
"""

import argparse
import dataclasses
import datetime as dt
import enum
import json
import random
import sys
import time

from corvane_core import EXCLUDE, Schema
from corvane_core import fields as f
from corvane_core import validate as v


class Status(enum.Enum):
    PENDING = "pending"
    PAID = "paid"
    SHIPPED = "shipped"
    CANCELLED = "cancelled"


class Tier(enum.Enum):
    FREE = 0
    PLUS = 1
    PRO = 2


class AddressSchema(Schema):
    street = f.Str(required=True)
    city = f.Str(required=True)
    postcode = f.Str()
    country = f.Str(validate=v.Length(equal=2))


class CustomerSchema(Schema):
    id = f.Int(required=True)
    name = f.Str(required=True)
    email = f.Str(validate=v.Length(3, 254))
    tier = f.Enum(Tier, by_value=True)
    address = f.Nested(AddressSchema)
    tags = f.List(f.Str())


class LineItemSchema(Schema):
    sku = f.Str(required=True)
    quantity = f.Int(required=True, validate=v.Range(1, 1000))
    unit_price = f.Float(required=True, validate=v.Range(0))
    discount = f.Float(load_default=0.0)
    gift = f.Bool(load_default=False)


class OrderSchema(Schema):
    class Meta:
        unknown = EXCLUDE

    id = f.Int(required=True)
    status = f.Enum(Status, by_value=True)
    created_at = f.DateTime(required=True)
    customer = f.Nested(CustomerSchema, required=True)
    items = f.List(f.Nested(LineItemSchema))
    notes = f.Str(allow_none=True)
    total = f.Float()


@dataclasses.dataclass
class Address:
    street: str
    city: str
    postcode: str
    country: str


@dataclasses.dataclass
class Customer:
    id: int
    name: str
    email: str
    tier: Tier
    address: Address
    tags: list


@dataclasses.dataclass
class LineItem:
    sku: str
    quantity: int
    unit_price: float
    discount: float
    gift: bool


@dataclasses.dataclass
class Order:
    id: int
    status: Status
    created_at: dt.datetime
    customer: Customer
    items: list
    notes: object
    total: float


FIRST = ["Ada", "Grace", "Alan", "Edsger", "Barbara", "Ken", "Frances", "Dennis", "Radia", "Linus"]
LAST = ["Lovelace", "Hopper", "Turing", "Dijkstra", "Liskov", "Thompson", "Allen", "Ritchie", "Perlman"]
CITIES = [("Zürich", "CH"), ("Lyon", "FR"), ("Porto", "PT"), ("Leeds", "GB"), ("Graz", "AT"), ("Oslo", "NO")]
TAGS = ["vip", "wholesale", "new", "returning", "eu", "b2b"]


def generate(count, seed=7):
    """``count`` orders, the same for a given seed."""
    rng = random.Random(seed)
    start = dt.datetime(2024, 1, 1, tzinfo=dt.timezone.utc)
    orders = []
    for n in range(count):
        city, country = rng.choice(CITIES)
        first, last = rng.choice(FIRST), rng.choice(LAST)
        customer = Customer(
            id=rng.randrange(1, 10**6), name=f"{first} {last}",
            email=f"{first.lower()}.{last.lower()}@example.org", tier=rng.choice(list(Tier)),
            address=Address(f"{rng.randrange(1, 300)} Main Street", city, f"{rng.randrange(1000, 99999)}", country),
            tags=rng.sample(TAGS, rng.randrange(0, 3)))
        items = [LineItem(f"SKU-{rng.randrange(10**5):05d}", rng.randrange(1, 20), round(rng.uniform(0.5, 400), 2),
                          rng.choice([0.0, 0.0, 0.1, 0.25]), rng.random() < 0.1)
                 for _ in range(rng.randrange(1, 6))]
        total = round(sum(i.quantity * i.unit_price * (1 - i.discount) for i in items), 2)
        orders.append(Order(n + 1, rng.choice(list(Status)), start + dt.timedelta(seconds=rng.randrange(10**7)),
                            customer, items, rng.choice([None, "leave at the door", "gift wrap"]), total))
    return orders


# -- peers of the same shape -----------------------------------------------------------------

def _peer_pydantic():
    import typing

    import pydantic

    class PAddress(pydantic.BaseModel):
        street: str
        city: str
        postcode: str = ""
        country: typing.Annotated[str, pydantic.Field(min_length=2, max_length=2)]

    class PCustomer(pydantic.BaseModel):
        id: int
        name: str
        email: typing.Annotated[str, pydantic.Field(min_length=3, max_length=254)]
        tier: Tier
        address: PAddress
        tags: list[str]

    class PLineItem(pydantic.BaseModel):
        sku: str
        quantity: typing.Annotated[int, pydantic.Field(ge=1, le=1000)]
        unit_price: typing.Annotated[float, pydantic.Field(ge=0)]
        discount: float = 0.0
        gift: bool = False

    class POrder(pydantic.BaseModel):
        id: int
        status: Status
        created_at: dt.datetime
        customer: PCustomer
        items: list[PLineItem]
        notes: typing.Optional[str]
        total: float

    return pydantic.TypeAdapter(list[POrder])


def _peer_msgspec():
    import typing

    import msgspec

    class MAddress(msgspec.Struct):
        street: str
        city: str
        postcode: str
        country: typing.Annotated[str, msgspec.Meta(min_length=2, max_length=2)]

    class MCustomer(msgspec.Struct):
        id: int
        name: str
        email: typing.Annotated[str, msgspec.Meta(min_length=3, max_length=254)]
        tier: Tier
        address: MAddress
        tags: list[str]

    class MLineItem(msgspec.Struct):
        sku: str
        quantity: typing.Annotated[int, msgspec.Meta(ge=1, le=1000)]
        unit_price: typing.Annotated[float, msgspec.Meta(ge=0)]
        discount: float = 0.0
        gift: bool = False

    class MOrder(msgspec.Struct):
        id: int
        status: Status
        created_at: dt.datetime
        customer: MCustomer
        items: list[MLineItem]
        notes: typing.Optional[str]
        total: float

    return msgspec, list[MOrder]


def build_jobs(batch):
    """``{job: [(implementation, callable)]}``, the accelerated path first."""
    fast, pure = OrderSchema(many=True), OrderSchema(many=True, accelerate=False)
    dicts = pure.dump(batch)
    text = json.dumps(dicts)
    jobs = {
        "objects -> dicts": [("corvane_core", lambda: fast.dump(batch)), ("pure Python", lambda: pure.dump(batch))],
        "objects -> JSON": [("corvane_core", lambda: fast.dumps(batch)), ("pure Python", lambda: pure.dumps(batch)),
                            ("json (dicts given)", lambda: json.dumps(dicts))],
        "dicts -> validated": [("corvane_core", lambda: fast.load(dicts)), ("pure Python", lambda: pure.load(dicts))],
        "JSON -> validated": [("corvane_core", lambda: fast.loads(text)), ("pure Python", lambda: pure.loads(text)),
                              ("json (no checks)", lambda: json.loads(text))],
    }
    try:
        import orjson
    except ImportError:
        pass
    else:
        jobs["objects -> JSON"].append(("orjson (dicts given)", lambda: orjson.dumps(dicts)))
        jobs["JSON -> validated"].append(("orjson (no checks)", lambda: orjson.loads(text)))
    try:
        msgspec, mtype = _peer_msgspec()
    except ImportError:
        pass
    else:
        structs = msgspec.convert(dicts, mtype)
        jobs["objects -> dicts"].append(("msgspec", lambda: msgspec.to_builtins(structs)))
        jobs["objects -> JSON"].append(("msgspec", lambda: msgspec.json.encode(structs)))
        jobs["dicts -> validated"].append(("msgspec", lambda: msgspec.convert(dicts, mtype)))
        jobs["JSON -> validated"].append(("msgspec", lambda: msgspec.json.decode(text, type=mtype)))
    try:
        adapter = _peer_pydantic()
    except ImportError:
        pass
    else:
        models = adapter.validate_python(dicts)
        jobs["objects -> dicts"].append(("pydantic", lambda: adapter.dump_python(models, mode="json")))
        jobs["objects -> JSON"].append(("pydantic", lambda: adapter.dump_json(models)))
        jobs["dicts -> validated"].append(("pydantic", lambda: adapter.validate_python(dicts)))
        jobs["JSON -> validated"].append(("pydantic", lambda: adapter.validate_json(text)))
    return fast, jobs


def check_agreement(batch):
    """Both paths on the whole batch; returns the accelerated schema for its counters."""
    fast, pure = OrderSchema(many=True), OrderSchema(many=True, accelerate=False)
    dicts = fast.dump(batch)
    text = fast.dumps(batch)
    checks = {
        "dump": dicts == pure.dump(batch),
        "dumps": text == pure.dumps(batch),
        "load": fast.load(dicts) == pure.load(dicts),
        "loads": fast.loads(text) == pure.loads(text),
    }
    return checks, fast.stats


class Progress:
    def __init__(self, enabled):
        self.enabled = enabled

    def show(self, text):
        if self.enabled:
            sys.stderr.write("\r\x1b[K" + text)
            sys.stderr.flush()

    def done(self):
        self.show("")


def measure(jobs, size, repeats, progress):
    results = {}
    for j, (job, impls) in enumerate(jobs.items(), 1):
        best = {name: float("inf") for name, _ in impls}
        for r in range(repeats):
            for name, fn in impls:
                progress.show(f"[{j}/{len(jobs)}] {job}: {name}, repeat {r + 1}/{repeats}")
                started = time.perf_counter()
                fn()
                best[name] = min(best[name], time.perf_counter() - started)
        ours = best[impls[0][0]]
        results[job] = [{"implementation": name, "seconds": best[name], "records_per_second": size / best[name],
                         "corvane_speedup": best[name] / ours} for name, _ in impls]
    progress.done()
    return results


def render(results, size, repeats):
    lines = [f"{size} orders per batch, best of {repeats}; speed-up is how many times faster corvane_core is", ""]
    header = f"{'job':20} {'implementation':22} {'orders/s':>12} {'ms/batch':>10} {'speed-up':>9}"
    lines += [header, "-" * len(header)]
    for job, rows in results.items():
        for i, row in enumerate(rows):
            lines.append(f"{job if i == 0 else '':20} {row['implementation']:22} {row['records_per_second']:12,.0f} "
                         f"{row['seconds'] * 1000:10.2f} {row['corvane_speedup']:8.1f}x")
        lines.append("")
    return "\n".join(lines)


def main(argv=None):
    parser = argparse.ArgumentParser(prog="python -m corvane_core", description=__doc__.splitlines()[0])
    parser.add_argument("--batch", type=int, default=2000, help="orders per batch (default 2000)")
    parser.add_argument("--repeats", type=int, default=5, help="timed repeats per job, best counts (default 5)")
    parser.add_argument("--seed", type=int, default=7, help="seed of the generated data")
    parser.add_argument("--json", action="store_true", help="print the results as JSON")
    parser.add_argument("--no-progress", action="store_true", help="no progress line on stderr")
    args = parser.parse_args(argv)
    if args.batch < 1 or args.repeats < 1:
        parser.error("--batch and --repeats must be at least 1")
    progress = Progress(not args.no_progress and sys.stderr.isatty())
    progress.show(f"generating {args.batch} orders")
    batch = generate(args.batch, args.seed)
    progress.show("checking that both paths agree")
    agreement, stats = check_agreement(batch)
    _, jobs = build_jobs(batch)
    results = measure(jobs, args.batch, args.repeats, progress)
    report = {"batch": args.batch, "repeats": args.repeats, "seed": args.seed, "agreement": agreement,
              "fallbacks": dict(stats.fallbacks), "calls": dict(stats.calls), "jobs": results}
    if args.json:
        print(json.dumps(report, indent=2))
    else:
        verdict = "agree" if all(agreement.values()) else "DISAGREE on " + ", ".join(k for k, ok in agreement.items() if not ok)
        print(f"accelerated and pure-Python paths {verdict}; fallbacks {stats.total_fallbacks} of {stats.total_calls} calls\n")
        print(render(results, args.batch, args.repeats))
    return 0 if all(agreement.values()) else 1

"""The demo behind ``python -m corvane_core``: an order schema, a generated batch, the
accelerated and the pure-Python path checked against each other, and a throughput table
against the pure path and whichever of orjson, msgspec and pydantic are installed.

    python -m corvane_core [--records N] [--repeat R] [--seed S] [--gc] [--json]

Four jobs, each on the whole batch in one call: objects -> dicts, objects -> JSON text,
dicts -> validated dicts, JSON text -> validated dicts. Every contender gets the same
records in its own form (plain objects for the schema, a ``Struct`` for msgspec, a model
for pydantic) and must hand back the same data, which is checked before any timing.
Times are the best of R interleaved rounds, so that load from elsewhere on the machine
falls on every contender alike; the garbage collector is off during each timed call
unless ``--gc`` is given.

Exit status: 0 when all went well, 1 when the two paths of the schema disagree.
"""

import argparse
import dataclasses
import datetime
import enum
import gc
import json
import platform
import random
import statistics
import sys
import time
from collections.abc import Callable, Sequence
from typing import Annotated, Any, Optional, TypeAlias

from corvane_core import fields as f
from corvane_core import validate as v
from corvane_core.schema import AccelStats, Schema

# ---------------------------------------------------------------------------------------
# The schema and its objects

STATUSES = ("pending", "paid", "shipped", "delivered", "cancelled")


class OrderStatus(enum.Enum):
    PENDING = "pending"
    PAID = "paid"
    SHIPPED = "shipped"
    DELIVERED = "delivered"
    CANCELLED = "cancelled"


class AddressSchema(Schema):
    street = f.Str(required=True)
    city = f.Str(required=True)
    postcode = f.Str(required=True)
    country = f.Str(required=True, validate=v.Length(equal=2))


class CustomerSchema(Schema):
    id = f.Int(required=True)
    name = f.Str(required=True)
    email = f.Str(required=True, validate=v.Length(3, 254))
    vip = f.Bool(required=True)
    since = f.Date(required=True)


class LineItemSchema(Schema):
    sku = f.Str(required=True)
    name = f.Str(required=True)
    quantity = f.Int(required=True, validate=v.Range(1, 1000))
    unit_price = f.Float(required=True, validate=v.Range(0))


class OrderSchema(Schema):
    id = f.Int(required=True)
    reference = f.Str(required=True)
    status = f.Enum(OrderStatus, by_value=True, required=True)
    placed_at = f.DateTime(required=True)
    shipped_at = f.DateTime(load_default=None)
    customer = f.Nested(CustomerSchema, required=True)
    shipping = f.Nested(AddressSchema, required=True)
    items = f.Nested(LineItemSchema, many=True, required=True, validate=v.Length(min=1))
    total = f.Float(required=True)
    paid = f.Bool(required=True)
    note = f.Str(load_default=None)
    tags = f.List(f.Str(), load_default=[])


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
    vip: bool
    since: datetime.date


@dataclasses.dataclass
class LineItem:
    sku: str
    name: str
    quantity: int
    unit_price: float


@dataclasses.dataclass
class Order:
    id: int
    reference: str
    status: OrderStatus
    placed_at: datetime.datetime
    shipped_at: Optional[datetime.datetime]
    customer: Customer
    shipping: Address
    items: list[LineItem]
    total: float
    paid: bool
    note: Optional[str]
    tags: list[str]


# ---------------------------------------------------------------------------------------
# Generated data

_CITIES = (("Lyon", "FR"), ("Kyoto", "JP"), ("Quito", "EC"), ("Oslo", "NO"), ("Porto", "PT"),
           ("Tartu", "EE"), ("Cork", "IE"), ("Brno", "CZ"), ("Perth", "AU"), ("Évora", "PT"))
_STREETS = ("Rue des Tanneurs", "Hauptstraße", "Calle Mayor", "Harbour Road", "Nørregade")
_PRODUCTS = ("kettle", "lamp", "notebook", "backpack", "headphones", "teapot", "chair", "mug",
             "bike light", "desk fan", "rain jacket", "café grinder")
_NOTES = ("leave at the door", "gift wrap, please", "call before delivery", "☂ fragile")
_TAGS = ("gift", "express", "b2b", "repeat", "promo")
_EPOCH = datetime.datetime(2024, 1, 1, 8, 0, 0)


def make_orders(n: int, seed: int = 7) -> list[Order]:
    """``n`` orders as dataclass objects; the same ``seed`` gives the same batch."""
    rng = random.Random(seed)
    customers = []
    for i in range(max(1, n // 4)):
        customers.append(Customer(
            id=10_000 + i, name=f"Customer {i}", email=f"customer{i}@example.org", vip=i % 9 == 0,
            since=datetime.date(2015, 1, 1) + datetime.timedelta(days=rng.randrange(3000))))
    orders = []
    for i in range(n):
        items = []
        for k in range(rng.randint(1, 6)):
            product = rng.choice(_PRODUCTS)
            items.append(LineItem(sku=f"SKU-{_PRODUCTS.index(product):03d}-{k}", name=product,
                                  quantity=rng.randint(1, 5), unit_price=round(rng.uniform(2, 400), 2)))
        city, country = rng.choice(_CITIES)
        placed = _EPOCH + datetime.timedelta(seconds=rng.randrange(30_000_000),
                                             microseconds=rng.choice((0, rng.randrange(1_000_000))))
        status = OrderStatus(STATUSES[rng.randrange(len(STATUSES))])
        shipped = placed + datetime.timedelta(hours=rng.randint(2, 96)) \
            if status in (OrderStatus.SHIPPED, OrderStatus.DELIVERED) else None
        orders.append(Order(
            id=i + 1, reference=f"ORD-{2024_000_000 + i}", status=status, placed_at=placed,
            shipped_at=shipped, customer=rng.choice(customers),
            shipping=Address(f"{rng.randint(1, 240)} {rng.choice(_STREETS)}", city,
                             f"{rng.randrange(10_000, 99_999)}", country),
            items=items, total=round(sum(it.quantity * it.unit_price for it in items), 2),
            paid=status is not OrderStatus.PENDING and status is not OrderStatus.CANCELLED,
            note=rng.choice(_NOTES) if rng.random() < 0.2 else None,
            tags=rng.sample(_TAGS, rng.randint(0, 2))))
    return orders


def load_input(dumped: list[dict[str, Any]]) -> list[dict[str, Any]]:
    """What a load meets in practice: the dumped records, with the optional keys that
    hold nothing left out, so that defaults do their part."""
    records = []
    for record in dumped:
        record = dict(record)
        for key in ("shipped_at", "note"):
            if record[key] is None:
                del record[key]
        if not record["tags"]:
            del record["tags"]
        records.append(record)
    return records


# ---------------------------------------------------------------------------------------
# Contenders

Job: TypeAlias = "Callable[[], object]"
"""A zero-argument callable doing one job on the whole batch."""
Times: TypeAlias = "dict[str, dict[str, list[float]]]"
JobTable: TypeAlias = "dict[str, dict[str, dict[str, float]]]"
Ratios: TypeAlias = "dict[str, dict[str, float]]"

JOBS = (
    ("dump", "objects -> dicts"),
    ("dumps", "objects -> JSON text"),
    ("load", "dicts -> validated dicts"),
    ("loads", "JSON text -> validated dicts"),
)


@dataclasses.dataclass
class Contender:
    name: str
    version: Optional[str]
    jobs: dict[str, Job]
    describe: str


@dataclasses.dataclass
class Batch:
    objects: list[Order]
    dicts: list[dict[str, Any]]
    text: str


def schema_contenders(batch: Batch) -> tuple[OrderSchema, OrderSchema, Contender, Contender]:
    fast = OrderSchema(many=True)
    pure = OrderSchema(many=True, accelerate=False)
    accelerated = Contender("corvane_core", None, {
        "dump": lambda: fast.dump(batch.objects),
        "dumps": lambda: fast.dumps(batch.objects),
        "load": lambda: fast.load(batch.dicts),
        "loads": lambda: fast.loads(batch.text),
    }, "Schema.dump/dumps/load/loads on the accelerated plans")
    python = Contender("pure Python", None, {
        "dump": lambda: pure.dump(batch.objects),
        "dumps": lambda: pure.dumps(batch.objects),
        "load": lambda: pure.load(batch.dicts),
        "loads": lambda: pure.loads(batch.text),
    }, "the same schema on its pure-Python path; JSON jobs with the json module "
       "(json.dumps of the dump, load of json.loads)")
    return fast, pure, accelerated, python


def orjson_contender(batch: Batch, pure: OrderSchema) -> Contender:
    import orjson

    return Contender("pure+orjson", orjson.__version__, {
        "dumps": lambda: orjson.dumps(pure.dump(batch.objects)),
        "loads": lambda: pure.load(orjson.loads(batch.text)),
    }, "the pure-Python path with orjson for the text step (JSON jobs only)")


def msgspec_contender(batch: Batch) -> Contender:
    import msgspec

    class MAddress(msgspec.Struct, forbid_unknown_fields=True):
        street: str
        city: str
        postcode: str
        country: Annotated[str, msgspec.Meta(min_length=2, max_length=2)]

    class MCustomer(msgspec.Struct, forbid_unknown_fields=True):
        id: int
        name: str
        email: Annotated[str, msgspec.Meta(min_length=3, max_length=254)]
        vip: bool
        since: datetime.date

    class MLineItem(msgspec.Struct, forbid_unknown_fields=True):
        sku: str
        name: str
        quantity: Annotated[int, msgspec.Meta(ge=1, le=1000)]
        unit_price: Annotated[float, msgspec.Meta(ge=0)]

    class MOrder(msgspec.Struct, forbid_unknown_fields=True):
        id: int
        reference: str
        status: OrderStatus
        placed_at: datetime.datetime
        customer: MCustomer
        shipping: MAddress
        items: Annotated[list[MLineItem], msgspec.Meta(min_length=1)]
        total: float
        paid: bool
        shipped_at: Optional[datetime.datetime] = None
        note: Optional[str] = None
        tags: list[str] = []

    def convert(order: Order) -> MOrder:
        c, a = order.customer, order.shipping
        return MOrder(
            id=order.id, reference=order.reference, status=order.status, placed_at=order.placed_at,
            customer=MCustomer(c.id, c.name, c.email, c.vip, c.since),
            shipping=MAddress(a.street, a.city, a.postcode, a.country),
            items=[MLineItem(i.sku, i.name, i.quantity, i.unit_price) for i in order.items],
            total=order.total, paid=order.paid, shipped_at=order.shipped_at, note=order.note,
            tags=list(order.tags))

    structs = [convert(o) for o in batch.objects]
    encoder = msgspec.json.Encoder()
    decoder = msgspec.json.Decoder(list[MOrder])
    target = list[MOrder]
    return Contender("msgspec", msgspec.__version__, {
        "dump": lambda: msgspec.to_builtins(structs),
        "dumps": lambda: encoder.encode(structs),
        "load": lambda: msgspec.convert(batch.dicts, target),
        "loads": lambda: decoder.decode(batch.text),
    }, "Struct classes of the same shape: to_builtins, json.Encoder.encode, convert, "
       "json.Decoder.decode")


def pydantic_contender(batch: Batch) -> Contender:
    import pydantic
    from pydantic import BaseModel, ConfigDict, Field, TypeAdapter

    strict_keys = ConfigDict(extra="forbid")

    class PAddress(BaseModel):
        model_config = strict_keys
        street: str
        city: str
        postcode: str
        country: Annotated[str, Field(min_length=2, max_length=2)]

    class PCustomer(BaseModel):
        model_config = strict_keys
        id: int
        name: str
        email: Annotated[str, Field(min_length=3, max_length=254)]
        vip: bool
        since: datetime.date

    class PLineItem(BaseModel):
        model_config = strict_keys
        sku: str
        name: str
        quantity: Annotated[int, Field(ge=1, le=1000)]
        unit_price: Annotated[float, Field(ge=0)]

    class POrder(BaseModel):
        model_config = strict_keys
        id: int
        reference: str
        status: OrderStatus
        placed_at: datetime.datetime
        shipped_at: Optional[datetime.datetime] = None
        customer: PCustomer
        shipping: PAddress
        items: Annotated[list[PLineItem], Field(min_length=1)]
        total: float
        paid: bool
        note: Optional[str] = None
        tags: list[str] = []

    adapter = TypeAdapter(list[POrder])
    models = [POrder.model_validate(dataclasses.asdict(o)) for o in batch.objects]
    return Contender("pydantic", pydantic.VERSION, {
        "dump": lambda: adapter.dump_python(models, mode="json"),
        "dumps": lambda: adapter.dump_json(models),
        "load": lambda: adapter.validate_python(batch.dicts),
        "loads": lambda: adapter.validate_json(batch.text),
    }, "BaseModel classes of the same shape through TypeAdapter(list[...]): "
       "dump_python(mode='json'), dump_json, validate_python, validate_json")


PeerBuilder: TypeAlias = "Callable[[Batch, OrderSchema], Contender]"

PEERS: tuple[tuple[str, PeerBuilder], ...] = (
    ("orjson", lambda batch, pure: orjson_contender(batch, pure)),
    ("msgspec", lambda batch, pure: msgspec_contender(batch)),
    ("pydantic", lambda batch, pure: pydantic_contender(batch)),
)


def peer_contenders(batch: Batch, pure: OrderSchema,
                    peers: Sequence[tuple[str, PeerBuilder]] = PEERS) -> tuple[list[Contender], list[str]]:
    """The installed peers; a missing one is left out of the table, not an error."""
    found: list[Contender] = []
    absent: list[str] = []
    for name, build in peers:
        try:
            found.append(build(batch, pure))
        except ImportError:
            absent.append(name)
    return found, absent


# ---------------------------------------------------------------------------------------
# Checks

def plain(value: Any) -> Any:
    """Any contender's result as plain data, to compare what they produced."""
    if isinstance(value, dict):
        return {k: plain(x) for k, x in value.items()}
    if isinstance(value, (list, tuple)):
        return [plain(x) for x in value]
    if isinstance(value, (bytes, bytearray)):
        return plain(json.loads(value))
    if isinstance(value, enum.Enum):
        return value.value
    if isinstance(value, (datetime.date, datetime.time)):
        return value.isoformat()
    fields = getattr(type(value), "__struct_fields__", None) or getattr(type(value), "model_fields", None)
    if fields is not None:
        return {name: plain(getattr(value, name)) for name in fields}
    return value


def check_paths(fast: OrderSchema, pure: OrderSchema, batch: Batch) -> tuple[list[str], dict[str, Any]]:
    """Both paths on the batch; returns the jobs where they disagree, and the
    accelerated results for comparing the peers against."""
    ours: dict[str, Any] = {
        "dump": fast.dump(batch.objects),
        "dumps": fast.dumps(batch.objects),
        "load": fast.load(batch.dicts),
        "loads": fast.loads(batch.text),
    }
    reference: dict[str, Any] = {
        "dump": pure.dump(batch.objects),
        "dumps": pure.dumps(batch.objects),
        "load": pure.load(batch.dicts),
        "loads": pure.load(json.loads(batch.text)),
    }
    # JSON text must match byte for byte; the rest by ==, and by type, so that an
    # enum member loaded as its bare value or a str as a subclass does not pass.
    failed = [job for job, _ in JOBS if not _identical(ours[job], reference[job])]
    return failed, ours


def _identical(a: Any, b: Any) -> bool:
    if type(a) is not type(b):
        return False
    if isinstance(a, dict):
        return list(a) == list(b) and all(_identical(a[k], b[k]) for k in a)
    if isinstance(a, (list, tuple)):
        return len(a) == len(b) and all(_identical(x, y) for x, y in zip(a, b))
    equal: bool = a == b
    return equal


def check_peers(contenders: list[Contender], ours: dict[str, Any], sample: int = 500) -> dict[str, list[str]]:
    """Peers whose output is not the same data as ours, per job: their figures would
    not measure the same work. The first ``sample`` records are compared, which is
    enough to catch a different shape without the check outlasting the timing."""

    def head(job: str, value: Any) -> Any:
        if job == "dumps":
            value = json.loads(value)
        return plain(value[:sample])

    expected = {job: head(job, value) for job, value in ours.items()}
    differing: dict[str, list[str]] = {}
    for contender in contenders:
        for job, run in contender.jobs.items():
            if head(job, run()) != expected[job]:
                differing.setdefault(contender.name, []).append(job)
    return differing


# ---------------------------------------------------------------------------------------
# Timing

class Progress:
    """One self-overwriting line on stderr, only when someone is watching it."""

    def __init__(self, enabled: bool) -> None:
        self.enabled = enabled and sys.stderr.isatty()
        self.width = 0

    def show(self, text: str) -> None:
        if self.enabled:
            sys.stderr.write("\r" + text.ljust(self.width))
            sys.stderr.flush()
            self.width = len(text)

    def done(self) -> None:
        if self.enabled and self.width:
            sys.stderr.write("\r" + " " * self.width + "\r")
            sys.stderr.flush()


def measure(contenders: list[Contender], repeat: int, progress: Progress, collector: bool = False) -> Times:
    """All times of every (contender, job), taken in interleaved rounds. Each call
    starts from a collected heap so that none pays for the garbage of the one before.
    Without ``collector`` the collector stays off during the calls, as timeit keeps it:
    with it on, full collections over the whole batch land on whichever contender
    allocates the most tracked objects, and their cost grows with the batch size."""
    times: Times = {c.name: {job: [] for job in c.jobs} for c in contenders}
    # The batches and the peers' objects live through every call: frozen, they are
    # not walked again by each collection between calls.
    gc.collect()
    gc.freeze()
    try:
        _rounds(contenders, repeat, progress, collector, times)
    finally:
        gc.unfreeze()
        progress.done()
    return times


def _rounds(contenders: list[Contender], repeat: int, progress: Progress, collector: bool,
            times: Times) -> None:
    for round_no in range(1, repeat + 1):
        for job, title in JOBS:
            for contender in contenders:
                run = contender.jobs.get(job)
                if run is None:
                    continue
                progress.show(f"round {round_no}/{repeat}: {title}, {contender.name}")
                gc.collect()
                if not collector:
                    gc.disable()
                try:
                    start = time.perf_counter()
                    run()
                    elapsed = time.perf_counter() - start
                finally:
                    gc.enable()
                times[contender.name][job].append(elapsed)


# ---------------------------------------------------------------------------------------
# Report

OURS = "corvane_core"


def summarise(contenders: list[Contender], times: Times, n: int) -> tuple[JobTable, Ratios]:
    jobs: JobTable = {}
    for job, _ in JOBS:
        row: dict[str, dict[str, float]] = {}
        for c in contenders:
            samples = times[c.name].get(job)
            if samples:
                best = min(samples)
                row[c.name] = {"best_s": best, "median_s": statistics.median(samples),
                               "records_per_s": n / best}
        jobs[job] = row
    ratios: Ratios = {}
    for job, row in jobs.items():
        mine = row[OURS]["best_s"]
        ratios[job] = {name: entry["best_s"] / mine for name, entry in row.items() if name != OURS}
    return jobs, ratios


def format_table(contenders: list[Contender], jobs: JobTable, ratios: Ratios) -> list[str]:
    """Two blocks: records per second of every contender, then our speed-up over each."""
    names = [c.name for c in contenders]
    first = max(len(title) for _, title in JOBS) + 2

    def block(corner: str, headers: list[str], cell: Callable[[str, int], str]) -> list[str]:
        widths = [max(len(h) + 2, 11) for h in headers]
        lines = [corner.ljust(first) + "".join(h.rjust(w) for h, w in zip(headers, widths))]
        for job, title in JOBS:
            lines.append(title.ljust(first) + "".join(cell(job, i).rjust(w) for i, w in enumerate(widths)))
        return lines

    def speed(job: str, i: int) -> str:
        entry = jobs[job].get(names[i])
        return f"{entry['records_per_s']:,.0f}" if entry else "-"

    def ratio(job: str, i: int) -> str:
        value = ratios[job].get(names[i + 1])
        return f"{value:.2f}x" if value is not None else "-"

    return (block("records/s", names, speed) + [""]
            + block(f"{OURS} speed-up", ["vs " + n for n in names[1:]], ratio))


def report_text(args: argparse.Namespace, batch: Batch, contenders: list[Contender], absent: list[str],
                jobs: JobTable, ratios: Ratios, stats: AccelStats, differing: dict[str, list[str]]) -> str:
    n = len(batch.objects)
    items = sum(len(o.items) for o in batch.objects)
    out = [
        f"{OURS} demo: {n:,} orders ({items / n:.1f} line items each), "
        f"{len(batch.text) / n:,.0f} bytes of JSON per order",
        f"best of {args.repeat} interleaved rounds, collector {'on' if args.gc else 'off'} while timing, "
        f"Python {platform.python_version()} on {platform.machine()}",
        "",
        "both paths agree on all four jobs",
        "",
    ]
    out += format_table(contenders, jobs, ratios)
    out += ["", "contenders:"]
    for c in contenders:
        version = f" {c.version}" if c.version else ""
        out.append(f"  {c.name}{version}: {c.describe}")
    if absent:
        out.append(f"  not installed, left out: {', '.join(absent)}")
    for name, failed in differing.items():
        out.append(f"  warning: {name} gave different data on {', '.join(failed)}; "
                   "those figures do not compare like with like")
    out += ["", f"accelerated calls that fell back to the pure path: {_fallback_text(stats)}"]
    return "\n".join(out)


def _fallback_text(stats: AccelStats) -> str:
    return ", ".join(f"{op} {stats.fallbacks[op]}/{stats.calls[op]}" for op in stats.OPERATIONS)


def report_json(args: argparse.Namespace, batch: Batch, contenders: list[Contender], absent: list[str],
                jobs: JobTable, ratios: Ratios, stats: AccelStats, differing: dict[str, list[str]]) -> str:
    return json.dumps({
        "records": len(batch.objects),
        "repeat": args.repeat,
        "seed": args.seed,
        "collector": args.gc,
        "python": platform.python_version(),
        "agree": True,
        "contenders": {c.name: {"version": c.version, "describe": c.describe} for c in contenders},
        "absent": absent,
        "jobs": {job: {"title": title, "results": jobs[job], "speedup": ratios[job]}
                 for job, title in JOBS},
        "fallbacks": {op: {"calls": stats.calls[op], "fallbacks": stats.fallbacks[op]}
                      for op in stats.OPERATIONS},
        "differing_peers": differing,
    }, indent=2)


# ---------------------------------------------------------------------------------------

def parse_args(argv: Sequence[str] | None) -> argparse.Namespace:
    ap = argparse.ArgumentParser(prog="python -m corvane_core", description=(__doc__ or "").split("\n\n")[0])
    ap.add_argument("--records", type=_positive, default=5_000, metavar="N",
                    help="orders per batch (default 5000)")
    ap.add_argument("--repeat", type=_positive, default=7, metavar="R", help="timed rounds (default 7)")
    ap.add_argument("--seed", type=int, default=7, metavar="S", help="seed of the generated data")
    ap.add_argument("--gc", action="store_true", help="keep the garbage collector on while timing")
    ap.add_argument("--json", action="store_true", help="print machine-readable results only")
    return ap.parse_args(argv)


def _positive(text: str) -> int:
    try:
        value = int(text)
    except ValueError:
        raise argparse.ArgumentTypeError(f"expected a whole number, not {text!r}") from None
    if value < 1:
        raise argparse.ArgumentTypeError("must be at least 1")
    return value


def main(argv: Sequence[str] | None = None, peers: Sequence[tuple[str, PeerBuilder]] = PEERS) -> int:
    args = parse_args(argv)
    progress = Progress(enabled=not args.json)
    progress.show("generating data")
    objects = make_orders(args.records, args.seed)
    reference = OrderSchema(many=True, accelerate=False)
    dicts = load_input(reference.dump(objects, many=True))
    batch = Batch(objects, dicts, json.dumps(dicts))

    fast, pure, accelerated, python = schema_contenders(batch)
    progress.show("checking both paths")
    failed, ours = check_paths(fast, pure, batch)
    if failed:
        progress.done()
        message = f"the accelerated and the pure-Python path disagree on: {', '.join(failed)}"
        if args.json:
            print(json.dumps({"records": args.records, "agree": False, "disagree": failed}))
        print(f"error: {message}", file=sys.stderr)
        return 1

    progress.show("setting up peers")
    found, absent = peer_contenders(batch, pure, peers)
    progress.show("checking the peers' results")
    differing = check_peers(found, ours)
    contenders = [accelerated, python, *found]
    # From here on the counters cover exactly the timed calls.
    fast.stats.reset()
    times = measure(contenders, args.repeat, progress, collector=args.gc)
    jobs, ratios = summarise(contenders, times, args.records)
    render = report_json if args.json else report_text
    print(render(args, batch, contenders, absent, jobs, ratios, fast.stats, differing))
    return 0


__all__ = ["main", "OrderSchema", "make_orders"]

"""Schemas travel: pickled or copied, and run in other processes, they give the results of
the process that made them."""

import copy
import json
import multiprocessing
import pickle

import pytest

from corvane_core import EXCLUDE, MISSING
from corvane_core.demo import OrderSchema, load_input, make_orders

ORDERS = make_orders(40)
DUMPED = OrderSchema().dump(ORDERS, many=True)
# Each job's batch: objects for dumps, records for loads (as JSON text for ``loads``).
BATCHES = {"dump": ORDERS, "dumps": ORDERS, "load": load_input(DUMPED), "loads": DUMPED}
CLONES = [
    pytest.param(lambda obj: pickle.loads(pickle.dumps(obj)), id="pickle-default"),
    pytest.param(copy.deepcopy, id="deepcopy"),
]


def job_input(job, data):
    return json.dumps(data) if job == "loads" else data


@pytest.mark.parametrize("clone", CLONES)
@pytest.mark.parametrize("accelerate", [True, False])
def test_schema_instance_gives_equal_results(clone, accelerate):
    schema = OrderSchema(many=True, unknown=EXCLUDE, accelerate=accelerate)
    inputs = {job: job_input(job, data) for job, data in BATCHES.items()}
    expected = {job: getattr(schema, job)(data) for job, data in inputs.items()}
    twin = clone(schema)
    assert (twin.many, twin.unknown, twin.accelerate) == (True, EXCLUDE, accelerate)
    assert {job: getattr(twin, job)(data) for job, data in inputs.items()} == expected
    # Plans come back from the class cache, for the instance's own unknown-key policy;
    # the counters count the copy's own calls.
    assert (twin.dump_plan, twin.load_plan) == (schema.dump_plan, schema.load_plan)
    assert twin.stats.calls == dict.fromkeys(BATCHES, int(accelerate))
    assert twin.stats.total_fallbacks == 0


@pytest.mark.parametrize("clone", CLONES)
def test_classes_sentinel_fields_and_plans(clone):
    assert clone(OrderSchema) is OrderSchema
    assert clone(MISSING) is MISSING
    order = ORDERS[0]
    record = OrderSchema().dump(order)
    for field in OrderSchema._fields:
        twin = clone(field)
        assert twin.serialize(field.attribute, order, None) == field.serialize(field.attribute, order, None)
        assert twin.deserialize(record[field.data_key]) == field.deserialize(record[field.data_key])
    dump_plan, load_plan = OrderSchema.plans()
    dump_twin, load_twin = clone(dump_plan), clone(load_plan)
    assert dump_twin is not dump_plan and dump_twin.__reduce__()[1][1] is MISSING
    assert dump_twin.run_json(ORDERS, True) == dump_plan.run_json(ORDERS, True)
    records = load_input(dump_plan.run(ORDERS, True))
    assert load_twin.run(records, True, None) == load_plan.run(records, True, None)


def run_chunk(schema, job, chunk):
    """A worker's share: the result, and its calls and fallbacks. One unpickled copy may
    serve several tasks (a pool pickles a batch of tasks at once), hence the differences."""
    calls, fallbacks = schema.stats.calls[job], schema.stats.fallbacks[job]
    result = getattr(schema, job)(chunk)
    return result, schema.stats.calls[job] - calls, schema.stats.fallbacks[job] - fallbacks


def check_distributed(run_all):
    """``run_all(schema, tasks)`` runs ``run_chunk`` elsewhere for each (job, chunk)."""
    schema = OrderSchema(many=True)
    tasks = [(job, job_input(job, data[start:start + 10]))
             for job, data in BATCHES.items() for start in range(0, len(data), 10)]
    local = [run_chunk(copy.deepcopy(schema), job, chunk) for job, chunk in tasks]
    assert {(calls, fallbacks) for _, calls, fallbacks in local} == {(1, 0)}
    assert run_all(schema, tasks) == local


@pytest.mark.slow
def test_spawned_process_pool():
    def run_all(schema, tasks):
        with multiprocessing.get_context("spawn").Pool(2) as pool:
            return pool.starmap(run_chunk, [(schema, job, chunk) for job, chunk in tasks])

    check_distributed(run_all)


@pytest.mark.slow
def test_dask_local_cluster():
    distributed = pytest.importorskip(
        "distributed", reason="dask[distributed] is not installed (the test-dask extra)")

    def run_all(schema, tasks):
        with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                                      host="127.0.0.1", dashboard_address=None) as cluster, \
                distributed.Client(cluster) as client:
            jobs, chunks = zip(*tasks)
            futures = client.map(run_chunk, [schema] * len(tasks), jobs, chunks, pure=False)
            return client.gather(futures)

    check_distributed(run_all)

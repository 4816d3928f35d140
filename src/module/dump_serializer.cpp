// DumpSerializer: owns one dump plan and its Ctx.
#include <memory>
#include <new>

#include "dump/dump.hpp"
#include "json_out/json_out.hpp"
#include "module/args.hpp"
#include "module/arena.hpp"
#include "module/plans.hpp"

namespace corvane {
namespace {

struct DumpPlan {
    Arena arena;
    Ctx ctx;
    std::unique_ptr<dump::Serializer> root;
};

struct DumpSerializerObject {
    PyObject_HEAD
    DumpPlan* plan;
};

DumpSerializerObject* as_self(PyObject* self) { return reinterpret_cast<DumpSerializerObject*>(self); }

DumpPlan* plan_of(PyObject* self) noexcept {
    DumpPlan* plan = as_self(self)->plan;
    if (!plan) PyErr_SetString(PyExc_RuntimeError, "DumpSerializer has been cleared");
    return plan;
}

PyObject* dump_new(PyTypeObject* type, PyObject* args, PyObject* kwds) noexcept {
    static const char* kwlist[] = {"payload", "missing", nullptr};
    PyObject* payload = nullptr;
    PyObject* missing = nullptr;
    if (!PyArg_ParseTupleAndKeywords(args, kwds, "OO:DumpSerializer", const_cast<char**>(kwlist), &payload,
                                     &missing))
        return nullptr;
    std::unique_ptr<DumpPlan> plan(new (std::nothrow) DumpPlan());
    if (!plan) return PyErr_NoMemory();
    if (plan->ctx.init(missing, plan->arena) < 0) return nullptr;
    plan->root = dump::parse_serializer(payload, plan->arena);
    if (!plan->root) return nullptr;
    auto alloc = reinterpret_cast<allocfunc>(PyType_GetSlot(type, Py_tp_alloc));
    PyObject* self = alloc(type, 0);
    if (!self) return nullptr;
    as_self(self)->plan = plan.release();
    return self;
}

int dump_traverse(PyObject* self, visitproc visit, void* arg) noexcept {
    Py_VISIT(Py_TYPE(self));
    if (DumpPlan* plan = as_self(self)->plan) return plan->arena.traverse(visit, arg);
    return 0;
}

int dump_clear(PyObject* self) noexcept {
    // Unhook before releasing: a decref may run code that calls this plan again.
    DumpPlan* plan = as_self(self)->plan;
    as_self(self)->plan = nullptr;
    delete plan;
    return 0;
}

void dump_dealloc(PyObject* self) noexcept {
    PyTypeObject* type = Py_TYPE(self);
    PyObject_GC_UnTrack(self);
    dump_clear(self);
    auto free_fn = reinterpret_cast<freefunc>(PyType_GetSlot(type, Py_tp_free));
    free_fn(self);
    Py_DECREF(type);
}

PyObject* dump_run(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) noexcept {
    static const char* params[] = {"obj", "many"};
    PyObject* a[2];
    bool many;
    if (!bind_args("run", params, 2, args, nargs, kwnames, a) || !bool_arg("run", "many", a[1], many))
        return nullptr;
    DumpPlan* plan = plan_of(self);
    if (!plan) return nullptr;
    return dump::run(*plan->root, plan->ctx, a[0], many);
}

PyObject* dump_run_json(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) noexcept {
    static const char* params[] = {"obj", "many"};
    PyObject* a[2];
    bool many;
    if (!bind_args("run_json", params, 2, args, nargs, kwnames, a) || !bool_arg("run_json", "many", a[1], many))
        return nullptr;
    DumpPlan* plan = plan_of(self);
    if (!plan) return nullptr;
    return json_out::run_json(*plan->root, plan->ctx, a[0], many);
}

PyMethodDef dump_methods[] = {
    {"run", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(dump_run)), METH_FASTCALL | METH_KEYWORDS,
     "run($self, obj, many)\n--\n\nSerialize ``obj`` (or each element if ``many``) into a dict (or list)."},
    {"run_json", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(dump_run_json)),
     METH_FASTCALL | METH_KEYWORDS,
     "run_json($self, obj, many)\n--\n\nSerialize ``obj`` straight to a JSON string, fusing ``dump`` +\n"
     "``json.dumps`` and skipping the intermediate Python dict. Byte-for-byte\n"
     "identical to stdlib ``json.dumps(self._serialize(obj, many))`` for the\n"
     "cases it handles; it raises ``AccelFallback`` for anything it cannot\n"
     "reproduce exactly (e.g. an unencodable value or a non-``str`` dict key),\n"
     "and the caller falls back to ``dump`` + ``json.dumps``."},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot dump_slots[] = {
    {Py_tp_doc, const_cast<char*>("DumpSerializer(payload, missing)\n--\n\n")},
    {Py_tp_new, reinterpret_cast<void*>(dump_new)},
    {Py_tp_dealloc, reinterpret_cast<void*>(dump_dealloc)},
    {Py_tp_traverse, reinterpret_cast<void*>(dump_traverse)},
    {Py_tp_clear, reinterpret_cast<void*>(dump_clear)},
    {Py_tp_methods, dump_methods},
    {0, nullptr},
};

PyType_Spec dump_spec = {
    "corvane_core._core.DumpSerializer",
    sizeof(DumpSerializerObject),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_HAVE_GC,
    dump_slots,
};

}  // namespace

PyObject* make_dump_serializer_type(PyObject* module) noexcept {
    return PyType_FromModuleAndSpec(module, &dump_spec, nullptr);
}

}  // namespace corvane

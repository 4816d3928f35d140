// LoadDeserializer: owns one load plan and its Ctx.
#include <memory>
#include <new>

#include "json_in/json_in.hpp"
#include "load/load.hpp"
#include "module/args.hpp"
#include "module/arena.hpp"
#include "module/plans.hpp"

namespace corvane {
namespace {

struct LoadPlan {
    Arena arena;
    Ctx ctx;
    std::unique_ptr<load::LoadSerializer> root;
};

struct LoadDeserializerObject {
    PyObject_HEAD
    LoadPlan* plan;
};

LoadDeserializerObject* as_self(PyObject* self) { return reinterpret_cast<LoadDeserializerObject*>(self); }

LoadPlan* plan_of(PyObject* self) noexcept {
    LoadPlan* plan = as_self(self)->plan;
    if (!plan) PyErr_SetString(PyExc_RuntimeError, "LoadDeserializer has been cleared");
    return plan;
}

PyObject* load_new(PyTypeObject* type, PyObject* args, PyObject* kwds) noexcept {
    static const char* kwlist[] = {"payload", "missing", nullptr};
    PyObject* payload = nullptr;
    PyObject* missing = nullptr;
    if (!PyArg_ParseTupleAndKeywords(args, kwds, "OO:LoadDeserializer", const_cast<char**>(kwlist), &payload,
                                     &missing))
        return nullptr;
    std::unique_ptr<LoadPlan> plan(new (std::nothrow) LoadPlan());
    if (!plan) return PyErr_NoMemory();
    if (plan->ctx.init(missing, plan->arena) < 0) return nullptr;
    plan->root = load::parse_load_serializer(payload, plan->arena);
    if (!plan->root) return nullptr;
    auto alloc = reinterpret_cast<allocfunc>(PyType_GetSlot(type, Py_tp_alloc));
    PyObject* self = alloc(type, 0);
    if (!self) return nullptr;
    as_self(self)->plan = plan.release();
    return self;
}

int load_traverse(PyObject* self, visitproc visit, void* arg) noexcept {
    Py_VISIT(Py_TYPE(self));
    if (LoadPlan* plan = as_self(self)->plan) return plan->arena.traverse(visit, arg);
    return 0;
}

int load_clear(PyObject* self) noexcept {
    // Unhook before releasing: a decref may run code that calls this plan again.
    LoadPlan* plan = as_self(self)->plan;
    as_self(self)->plan = nullptr;
    delete plan;
    return 0;
}

void load_dealloc(PyObject* self) noexcept {
    PyTypeObject* type = Py_TYPE(self);
    PyObject_GC_UnTrack(self);
    load_clear(self);
    auto free_fn = reinterpret_cast<freefunc>(PyType_GetSlot(type, Py_tp_free));
    free_fn(self);
    Py_DECREF(type);
}

// Shared by run and run_json: (data, many, partial) with `many` a real bool.
bool load_args(const char* fname, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames, PyObject** a,
               bool& many) noexcept {
    static const char* params[] = {"data", "many", "partial"};
    return bind_args(fname, params, 3, args, nargs, kwnames, a) && bool_arg(fname, "many", a[1], many);
}

PyObject* load_run(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) noexcept {
    PyObject* a[3];
    bool many;
    if (!load_args("run", args, nargs, kwnames, a, many)) return nullptr;
    LoadPlan* plan = plan_of(self);
    if (!plan) return nullptr;
    load::Partial partial = load::Partial::from_arg(a[2]);
    return load::run(*plan->root, plan->ctx, a[0], many, partial);
}

PyObject* load_run_json(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) noexcept {
    PyObject* a[3];
    bool many;
    if (!load_args("run_json", args, nargs, kwnames, a, many)) return nullptr;
    LoadPlan* plan = plan_of(self);
    if (!plan) return nullptr;
    load::Partial partial = load::Partial::from_arg(a[2]);
    return json_in::run_json(*plan->root, plan->ctx, a[0], many, partial);
}

PyMethodDef load_methods[] = {
    {"run", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(load_run)), METH_FASTCALL | METH_KEYWORDS,
     "run($self, data, many, partial)\n--\n\nDeserialize ``data``; raises ``AccelFallback`` to defer to Python.\n\n"
     "``partial`` mirrors ``load(partial=...)``: ``True`` makes every field\n"
     "optional, a collection of (possibly dotted) names makes those optional,\n"
     "and anything falsy is non-partial. A field missing under partial is\n"
     "skipped (no default applied, no ``required`` error), recursively into\n"
     "nested schemas (dotted entries select nested fields)."},
    {"run_json", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(load_run_json)),
     METH_FASTCALL | METH_KEYWORDS,
     "run_json($self, data, many, partial)\n--\n\nSPIKE (Design A): fused ``loads`` \xe2\x80\x94 parse JSON ``data`` (a ``str`` or\n"
     "``bytes``) into a ``JsonValue`` tree and deserialize directly off\n"
     "the tree, skipping the intermediate Python ``dict`` that ``json.loads``\n"
     "would build. Output keys come from the schema (already-interned\n"
     "``out_key`` strings), so this allocates **no** per-record key strings.\n"
     "Raises ``AccelFallback`` for any shape the tree walker doesn't model, so\n"
     "the caller re-runs the unchanged ``json.loads`` + ``_do_load`` path."},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot load_slots[] = {
    {Py_tp_doc, const_cast<char*>("LoadDeserializer(payload, missing)\n--\n\n")},
    {Py_tp_new, reinterpret_cast<void*>(load_new)},
    {Py_tp_dealloc, reinterpret_cast<void*>(load_dealloc)},
    {Py_tp_traverse, reinterpret_cast<void*>(load_traverse)},
    {Py_tp_clear, reinterpret_cast<void*>(load_clear)},
    {Py_tp_methods, load_methods},
    {0, nullptr},
};

PyType_Spec load_spec = {
    "corvane_core._core.LoadDeserializer",
    sizeof(LoadDeserializerObject),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_HAVE_GC,
    load_slots,
};

}  // namespace

PyObject* make_load_deserializer_type(PyObject* module) noexcept {
    return PyType_FromModuleAndSpec(module, &load_spec, nullptr);
}

}  // namespace corvane

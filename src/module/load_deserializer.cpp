// LoadDeserializer: owns one load plan and its Ctx.
#include "json_in/json_in.hpp"
#include "load/load.hpp"
#include "module/args.hpp"
#include "module/plan_object.hpp"
#include "module/plans.hpp"

namespace corvane {
namespace {

struct LoadTraits {
    using Root = load::LoadSerializer;
    static constexpr const char* name = "LoadDeserializer";
    static constexpr const char* new_format = "OO:LoadDeserializer";
    static std::unique_ptr<Root> parse(PyObject* payload, Arena& arena) noexcept {
        return load::parse_load_serializer(payload, arena);
    }
    static PyObject* repr(const Root& root) noexcept {
        static const char* const policies[] = {"raise", "exclude", "include"};
        const char* unknown = policies[root.extra_keys == load::ExtraKeys::Reject   ? 0
                                       : root.extra_keys == load::ExtraKeys::Ignore ? 1
                                                                                    : 2];
        return PyUnicode_FromFormat("<LoadDeserializer(fields=%zd, many=%s, unknown='%s')>",
                                    static_cast<Py_ssize_t>(root.fields.size()), root.many ? "True" : "False",
                                    unknown);
    }
};
using Self = PlanObject<LoadTraits>;

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
    auto* plan = Self::plan_of(self);
    if (!plan) return nullptr;
    load::Partial partial = load::Partial::from_arg(a[2]);
    return load::run(*plan->root, plan->ctx, a[0], many, partial);
}

PyObject* load_run_json(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) noexcept {
    PyObject* a[3];
    bool many;
    if (!load_args("run_json", args, nargs, kwnames, a, many)) return nullptr;
    auto* plan = Self::plan_of(self);
    if (!plan) return nullptr;
    load::Partial partial = load::Partial::from_arg(a[2]);
    return json_in::run_json(*plan->root, plan->ctx, a[0], many, partial);
}

PyMethodDef load_methods[] = {
    Self::reduce_method,
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

}  // namespace

PyObject* make_load_deserializer_type(PyObject* module) noexcept {
    return Self::make_type(module, "corvane_core._core.LoadDeserializer",
                           "LoadDeserializer(payload, missing)\n--\n\n", load_methods);
}

}  // namespace corvane

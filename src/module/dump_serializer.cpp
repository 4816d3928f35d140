// DumpSerializer: owns one dump plan and its Ctx.
#include "dump/dump.hpp"
#include "json_out/json_out.hpp"
#include "module/args.hpp"
#include "module/compat.hpp"
#include "module/float_repr.hpp"
#include "module/plan_object.hpp"
#include "module/plans.hpp"
#include "module/ref.hpp"

namespace corvane {
namespace {

struct DumpTraits {
    using Root = dump::Serializer;
    static constexpr const char* name = "DumpSerializer";
    static constexpr const char* new_format = "OO:DumpSerializer";
    static std::unique_ptr<Root> parse(PyObject* payload, Arena& arena) noexcept {
        decide_float_text();
        return dump::parse_serializer(payload, arena);
    }
    // The schema class's own __name__ when it has a plain one; a repr must not fail.
    static PyObject* repr(const Root& root) noexcept {
        const auto fields = static_cast<Py_ssize_t>(root.fields.size());
        Ref name;
        if (PyType_Check(root.serialize_arg)) name = type_name(reinterpret_cast<PyTypeObject*>(root.serialize_arg));
        if (!name || !PyUnicode_Check(name.get())) {
            PyErr_Clear();
            return PyUnicode_FromFormat("<DumpSerializer(fields=%zd)>", fields);
        }
        return PyUnicode_FromFormat("<DumpSerializer(%U, fields=%zd)>", name.get(), fields);
    }
};
using Self = PlanObject<DumpTraits>;

PyObject* dump_run(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) noexcept {
    static const char* params[] = {"obj", "many"};
    PyObject* a[2];
    bool many;
    if (!bind_args("run", params, 2, args, nargs, kwnames, a) || !bool_arg("run", "many", a[1], many))
        return nullptr;
    auto* plan = Self::plan_of(self);
    if (!plan) return nullptr;
    return dump::run(*plan->root, plan->ctx, a[0], many);
}

PyObject* dump_run_json(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) noexcept {
    static const char* params[] = {"obj", "many"};
    PyObject* a[2];
    bool many;
    if (!bind_args("run_json", params, 2, args, nargs, kwnames, a) || !bool_arg("run_json", "many", a[1], many))
        return nullptr;
    auto* plan = Self::plan_of(self);
    if (!plan) return nullptr;
    return json_out::run_json(*plan->root, plan->ctx, a[0], many);
}

PyMethodDef dump_methods[] = {
    Self::reduce_method,
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

}  // namespace

PyObject* make_dump_serializer_type(PyObject* module) noexcept {
    return Self::make_type(module, "corvane_core._core.DumpSerializer", "DumpSerializer(payload, missing)\n--\n\n",
                           dump_methods);
}

}  // namespace corvane

#pragma once
// What the two plan classes share: a Python object owning one decoded plan, its Ctx
// and the Arena of strong references the plan holds (visited by the collector).
#include <memory>
#include <new>

#include "module/arena.hpp"
#include "module/ctx.hpp"
#include "module/python.hpp"

namespace corvane {

// Traits: `Root` (the plan's root type), `name` (the class name),
// `static std::unique_ptr<Root> parse(PyObject* payload, Arena&)` and
// `static PyObject* repr(const Root&)`.
template <class Traits>
struct PlanObject {
    using Root = typename Traits::Root;
    struct Plan {
        Arena arena;
        Ctx ctx;
        PyObject* payload = nullptr;  // kept so that the plan pickles as its constructor call
        std::unique_ptr<Root> root;
    };

    PyObject_HEAD
    Plan* plan;

    static PlanObject* of(PyObject* self) noexcept { return reinterpret_cast<PlanObject*>(self); }

    static Plan* plan_of(PyObject* self) noexcept {
        Plan* plan = of(self)->plan;
        if (!plan) PyErr_Format(PyExc_RuntimeError, "%s has been cleared", Traits::name);
        return plan;
    }

    // Pickles and copies as the constructor call: the payload as given and the sentinel,
    // which the host pickles by reference so that it stays one object.
    static PyObject* reduce(PyObject* self, PyObject*) noexcept {
        Plan* plan = plan_of(self);
        if (!plan) return nullptr;
        return Py_BuildValue("O(OO)", reinterpret_cast<PyObject*>(Py_TYPE(self)), plan->payload, plan->ctx.missing);
    }
    static constexpr PyMethodDef reduce_method = {"__reduce__", reduce, METH_NOARGS, nullptr};

    static PyObject* tp_new(PyTypeObject* type, PyObject* args, PyObject* kwds) noexcept {
        static const char* kwlist[] = {"payload", "missing", nullptr};
        PyObject* payload = nullptr;
        PyObject* missing = nullptr;
        if (!PyArg_ParseTupleAndKeywords(args, kwds, Traits::new_format, const_cast<char**>(kwlist), &payload,
                                         &missing))
            return nullptr;
        std::unique_ptr<Plan> plan(new (std::nothrow) Plan());
        if (!plan) return PyErr_NoMemory();
        if (plan->ctx.init(missing, plan->arena) < 0) return nullptr;
        if (!(plan->payload = plan->arena.keep(payload))) return nullptr;
        plan->root = Traits::parse(payload, plan->arena);
        if (!plan->root) return nullptr;
        auto alloc = reinterpret_cast<allocfunc>(PyType_GetSlot(type, Py_tp_alloc));
        PyObject* self = alloc(type, 0);
        if (!self) return nullptr;
        of(self)->plan = plan.release();
        return self;
    }

    static PyObject* tp_repr(PyObject* self) noexcept {
        Plan* plan = of(self)->plan;
        if (!plan) return PyUnicode_FromFormat("<%s (cleared)>", Traits::name);
        return Traits::repr(*plan->root);
    }

    static int tp_traverse(PyObject* self, visitproc visit, void* arg) noexcept {
        Py_VISIT(Py_TYPE(self));
        if (Plan* plan = of(self)->plan) return plan->arena.traverse(visit, arg);
        return 0;
    }

    static int tp_clear(PyObject* self) noexcept {
        // Unhook before releasing: a decref may run code that calls this plan again.
        Plan* plan = of(self)->plan;
        of(self)->plan = nullptr;
        delete plan;
        return 0;
    }

    static void tp_dealloc(PyObject* self) noexcept {
        PyTypeObject* type = Py_TYPE(self);
        PyObject_GC_UnTrack(self);
        tp_clear(self);
        auto free_fn = reinterpret_cast<freefunc>(PyType_GetSlot(type, Py_tp_free));
        free_fn(self);
        Py_DECREF(type);
    }

    // The PyType_Spec and slots are only read while the type is made; the strings and the
    // method table are static.
    static PyObject* make_type(PyObject* module, const char* qualname, const char* doc,
                               PyMethodDef* methods) noexcept {
        PyType_Slot slots[] = {
            {Py_tp_doc, const_cast<char*>(doc)},
            {Py_tp_new, reinterpret_cast<void*>(tp_new)},
            {Py_tp_dealloc, reinterpret_cast<void*>(tp_dealloc)},
            {Py_tp_repr, reinterpret_cast<void*>(tp_repr)},
            {Py_tp_traverse, reinterpret_cast<void*>(tp_traverse)},
            {Py_tp_clear, reinterpret_cast<void*>(tp_clear)},
            {Py_tp_methods, methods},
            {0, nullptr},
        };
        PyType_Spec spec = {qualname, sizeof(PlanObject), 0, Py_TPFLAGS_DEFAULT | Py_TPFLAGS_HAVE_GC, slots};
        return PyType_FromModuleAndSpec(module, &spec, nullptr);
    }
};

}  // namespace corvane

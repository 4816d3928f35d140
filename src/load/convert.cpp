// LoadElement::apply: the one switch over the twenty kinds, with the scalar kinds here
// and the container kinds in convert_containers.cpp. Host converters go through
// to_fallback; our own probing (instance tests, lengths) reports its errors unchanged.
#include <cmath>

#include "load/detail.hpp"
#include "module/names.hpp"

namespace corvane::load {
namespace {

PyObject* fallback_if_null(PyObject* result) noexcept {
    if (!result) to_fallback();
    return result;
}

PyObject* same(PyObject* value) noexcept {
    Py_INCREF(value);
    return value;
}

PyObject* apply_text(PyObject* value) noexcept {
    if (is_exact(value, &PyUnicode_Type)) return same(value);
    // Invalid UTF-8 is the host's error to report.
    if (PyBytes_Check(value)) return fallback_if_null(call_method1(value, g_names.decode, g_names.utf_8));
    return raise_fallback();
}

PyObject* apply_int(const Ctx& ctx, PyObject* value, bool strict) noexcept {
    if (is_exact(value, &PyLong_Type)) return same(value);
    if (strict || PyBool_Check(value)) return raise_fallback();
    return fallback_if_null(call1(ctx.int_type, value));
}

PyObject* apply_float(const LoadElement& e, const Ctx& ctx, PyObject* value) noexcept {
    if (PyBool_Check(value)) return raise_fallback();
    Ref candidate = is_exact(value, &PyFloat_Type) ? Ref::borrow(value) : Ref::steal(call1(ctx.float_type, value));
    if (!candidate) {
        to_fallback();
        return nullptr;
    }
    if (!e.allow_non_finite) {
        double d = PyFloat_AsDouble(candidate.get());
        if (d == -1.0 && PyErr_Occurred()) return nullptr;
        if (!std::isfinite(d)) return raise_fallback();
    }
    return candidate.release();
}

PyObject* apply_enum(const LoadElement& e, const Ctx& ctx, PyObject* value, const Partial& partial) noexcept {
    int is = PyObject_IsInstance(value, e.cls);
    if (is != 0) return is < 0 ? nullptr : same(value);
    Ref raw = Ref::steal(apply(*e.child, ctx, value, partial));
    if (!raw) return nullptr;
    return fallback_if_null(e.use_value ? call1(e.cls, raw.get()) : PyObject_GetItem(e.cls, raw.get()));
}

PyObject* apply_uuid(const LoadElement& e, PyObject* value) noexcept {
    int is = PyObject_IsInstance(value, e.cls);
    if (is != 0) return is < 0 ? nullptr : same(value);
    if (PyBytes_Check(value)) {
        Py_ssize_t n = PyObject_Size(value);
        if (n < 0) return nullptr;
        if (n == 16) {
            Ref args = Ref::steal(PyTuple_New(0));
            Ref kwargs = Ref::steal(PyDict_New());
            if (!args || !kwargs || PyDict_SetItem(kwargs.get(), g_names.bytes, value) < 0) return nullptr;
            return fallback_if_null(PyObject_Call(e.cls, args.get(), kwargs.get()));
        }
    }
    return fallback_if_null(call1(e.cls, value));
}

PyObject* apply_instance_or_call(const LoadElement& e, PyObject* value) noexcept {
    int is = PyObject_IsInstance(value, e.cls);
    if (is != 0) return is < 0 ? nullptr : same(value);
    return fallback_if_null(call1(e.converter, value));
}

PyObject* apply_dict_copy(const Ctx& ctx, PyObject* value) noexcept {
    if (!is_dict(value)) return raise_fallback();
    return call1(ctx.dict_type, value);
}

}  // namespace

// Membership errors go through to_fallback: an interrupt still reaches the caller.
PyObject* apply_bool_set(const LoadElement& e, PyObject* value) noexcept {
    if (PyObject* known = value == Py_True ? e.on_true : value == Py_False ? e.on_false : nullptr)
        return Py_NewRef(known);
    int in_true = contains(e.true_values, value);
    if (in_true < 0) return fallback_if_null(nullptr);
    if (in_true) Py_RETURN_TRUE;
    int in_false = contains(e.false_values, value);
    if (in_false < 0) return fallback_if_null(nullptr);
    if (in_false) Py_RETURN_FALSE;
    return raise_fallback();
}

PyObject* apply_traced(const LoadElement& e, const Ctx& ctx, PyObject* value, const Partial& partial,
                       bool& pure) noexcept {
    switch (e.kind) {
        case Kind::Passthrough:
            return same(value);
        case Kind::Constant:
            return same(e.value);
        case Kind::Text:
            pure = pure && is_exact(value, &PyUnicode_Type);
            return apply_text(value);
        case Kind::Int:
        case Kind::StrictInt:
            pure = pure && is_exact(value, &PyLong_Type);
            return apply_int(ctx, value, e.kind == Kind::StrictInt);
        case Kind::Float:
            pure = pure && is_exact(value, &PyFloat_Type);
            return apply_float(e, ctx, value);
        case Kind::BoolSet:
            pure = pure && e.plain_sets && is_plain_scalar(value);
            return apply_bool_set(e, value);
        case Kind::Nested:
            return run_traced(*e.serializer, ctx, value, e.serializer->many, partial, pure);
        case Kind::ListOf:
            return apply_list_of(e, ctx, value, partial, pure);
        default:
            break;
    }
    // Every other kind calls host code or walks what host code may change.
    pure = false;
    switch (e.kind) {
        case Kind::EnumMember:
            return apply_enum(e, ctx, value, partial);
        case Kind::Uuid:
            return apply_uuid(e, value);
        case Kind::InstanceOrCall:
            return apply_instance_or_call(e, value);
        case Kind::CallField:
        case Kind::CallFieldAlt1:
        case Kind::CallFieldAlt2:
        case Kind::CallFieldAlt3:
            return fallback_if_null(call3(e.function, value, Py_None, Py_None));
        case Kind::DictCopy:
            return apply_dict_copy(ctx, value);
        case Kind::DictOf:
            return apply_dict_of(e, ctx, value, partial);
        case Kind::TupleOf:
            return apply_tuple_of(e, ctx, value, partial);
        case Kind::NestedKey:
            return apply_nested_key(e, ctx, value, partial);
        default:
            break;
    }
    return raise_fallback();
}

PyObject* apply(const LoadElement& e, const Ctx& ctx, PyObject* value, const Partial& partial) noexcept {
    bool pure = true;  // not wanted here
    return apply_traced(e, ctx, value, partial, pure);
}

}  // namespace corvane::load

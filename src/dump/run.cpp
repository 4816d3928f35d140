// Dump execution: the record loop and the one dispatch over element kinds.
#include "dump/internal.hpp"
#include "module/depth.hpp"
#include "module/float_repr.hpp"
#include "module/names.hpp"

namespace corvane::dump {
namespace {

constexpr const char kWhere[] = " while dumping an object";

PyObject* none() noexcept { return Py_NewRef(Py_None); }

// Int and Float: `exact` is the builtin whose instances pass unchanged; `convert` is the
// plan's int/float (builtins at construction), called for everything else.
PyObject* apply_number(PyObject* value, bool as_text, PyTypeObject* exact, PyObject* convert) noexcept {
    if (Py_IS_TYPE(value, exact)) {
        if (!as_text) return Py_NewRef(value);
        // int(x)/float(x) of an exact instance is x itself, so only str() is left.
        if (convert == reinterpret_cast<PyObject*>(exact))
            return exact == &PyFloat_Type ? exact_float_str(value) : PyObject_Str(value);
    }
    Ref r = Ref::steal(call1(convert, value));
    if (!r || !as_text) return r.release();
    return PyFloat_CheckExact(r.get()) ? exact_float_str(r.get()) : PyObject_Str(r.get());
}

// Whether `e` turns `v` into `v` itself: the commonest values of the commonest kinds,
// stored without a call (the outcome apply_in would give, with no host code run).
inline bool passes_unchanged(const Element& e, PyObject* v) noexcept {
    switch (e.kind) {
        case Kind::Passthrough:
            return true;
        case Kind::Text:
        case Kind::Stringify:
        case Kind::StringifyAlt:
            return PyUnicode_CheckExact(v) || v == Py_None;
        case Kind::Int:
            return v == Py_None || (!e.as_text && PyLong_CheckExact(v));
        case Kind::Float:
            return v == Py_None || (!e.as_text && PyFloat_CheckExact(v));
        default:
            return false;
    }
}

PyObject* apply_list_of(const Element& e, const Ctx& ctx, PyObject* value, bool reiterable_only) noexcept {
    DepthGuard guard;
    if (!guard.enter(kWhere)) return nullptr;
    Ref out = Ref::steal(PyList_New(0));
    if (!out) return nullptr;
    const Element& child = *e.child;
    const int rc = for_each_item(value, reiterable_only, [&](PyObject* item) noexcept {
        Ref r = Ref::steal(apply_in(child, ctx, item, reiterable_only));
        return r ? PyList_Append(out.get(), r.get()) : -1;
    });
    return rc < 0 ? nullptr : out.release();
}

// dict(value) reads a mapping through its keys() but drains any other iterable of pairs,
// so a one-shot iterable falls back here exactly as in ListOf.
PyObject* apply_dict_copy(PyObject* value, const Ctx& ctx, bool reiterable_only) noexcept {
    if (reiterable_only && !is_reiterable(value)) {
        Ref keys = Ref::steal(PyObject_GetAttr(value, g_names.keys));
        if (!keys) {
            if (!PyErr_ExceptionMatches(PyExc_AttributeError)) return nullptr;
            PyErr_Clear();
            return raise_fallback();
        }
    }
    return call1(ctx.dict_type, value);
}

// d[key] on a dict this run has just built; the miss goes through PyObject_GetItem so
// that the KeyError is the interpreter's own.
PyObject* item_of(PyObject* d, PyObject* key) noexcept {
    if (PyDict_CheckExact(d)) {
        if (PyObject* v = PyDict_GetItemWithError(d, key)) return Py_NewRef(v);
        if (PyErr_Occurred()) return nullptr;
    }
    return PyObject_GetItem(d, key);
}

PyObject* apply_nested_key(const Element& e, const Ctx& ctx, PyObject* value, bool reiterable_only) noexcept {
    Ref r = Ref::steal(run_in(*e.serializer, ctx, value, e.many, reiterable_only));
    if (!r) return nullptr;
    if (!e.many) return item_of(r.get(), e.key);
    // `value` is not None here, so run_in iterated it and `r` is our own list of dicts.
    const Py_ssize_t n = PyList_Size(r.get());
    Ref out = Ref::steal(PyList_New(0));
    if (!out) return nullptr;
    for (Py_ssize_t i = 0; i < n; ++i) {
        Ref v = Ref::steal(item_of(PyList_GetItem(r.get(), i), e.key));
        if (!v || PyList_Append(out.get(), v.get()) < 0) return nullptr;
    }
    return out.release();
}

}  // namespace

PyObject* apply_in(const Element& e, const Ctx& ctx, PyObject* value, bool reiterable_only) noexcept {
    switch (e.kind) {
        case Kind::Passthrough:
            return Py_NewRef(value);
        case Kind::Constant:
            return Py_NewRef(e.value);
        case Kind::CallField:
        case Kind::CallFieldAlt:
            // Called for None too.
            return call3(e.function, value, Py_None, Py_None);
        case Kind::Text:
            if (value == Py_None) return none();
            if (PyUnicode_CheckExact(value)) return Py_NewRef(value);  // str(s) is s
            if (PyBytes_Check(value)) return call_method1(value, g_names.decode, g_names.utf_8);
            if (PyFloat_CheckExact(value)) return exact_float_str(value);
            return PyObject_Str(value);
        case Kind::Int:
            if (value == Py_None) return none();
            return apply_number(value, e.as_text, &PyLong_Type, ctx.int_type);
        case Kind::Float:
            if (value == Py_None) return none();
            return apply_number(value, e.as_text, &PyFloat_Type, ctx.float_type);
        case Kind::Stringify:
        case Kind::StringifyAlt:
            if (value == Py_None) return none();
            if (PyUnicode_CheckExact(value)) return Py_NewRef(value);
            if (PyFloat_CheckExact(value)) return exact_float_str(value);
            return PyObject_Str(value);
        case Kind::DateFormat:
            if (value == Py_None) return none();
            if (e.formatter) return call1(e.formatter, value);
            return call_method1(value, g_names.strftime, e.format);
        case Kind::EnumMember: {
            if (value == Py_None) return none();
            DepthGuard guard;
            if (!guard.enter(kWhere)) return nullptr;
            Ref member = Ref::steal(PyObject_GetAttr(value, e.use_value ? g_names.value : g_names.name));
            if (!member) return nullptr;
            return apply_in(*e.child, ctx, member.get(), reiterable_only);
        }
        case Kind::DictCopy:
            if (value == Py_None) return none();
            return apply_dict_copy(value, ctx, reiterable_only);
        case Kind::Nested:
            if (value == Py_None) return none();
            return run_in(*e.serializer, ctx, value, e.many, reiterable_only);
        case Kind::ListOf:
            if (value == Py_None) return none();
            return apply_list_of(e, ctx, value, reiterable_only);
        case Kind::DictOf:
            if (value == Py_None) return none();
            return apply_dict_of(e, ctx, value, reiterable_only);
        case Kind::TupleOf:
            if (value == Py_None) return none();
            return apply_tuple_of(e, ctx, value, reiterable_only);
        case Kind::NestedKey:
            if (value == Py_None) return none();
            return apply_nested_key(e, ctx, value, reiterable_only);
    }
    PyErr_SetString(PyExc_SystemError, "corrupt dump plan");
    return nullptr;
}

namespace {

// Results not yet stored in a record's dict. Its keys are exact str, so a store runs no
// host code and can wait: kept in field order, the stores build the same dict, and the
// reads of a record follow one another closely enough for the processor to overlap their
// first touches of memory.
class Pending {
public:
    explicit Pending(PyObject* out) noexcept : out_(out) {}
    Pending(const Pending&) = delete;
    Pending& operator=(const Pending&) = delete;
    ~Pending() {
        for (int i = 0; i < n_; ++i) Py_DECREF(items_[i].value);
    }
    // Takes over `value`.
    int add(PyObject* key, PyObject* value) noexcept {
        if (n_ == kMax && flush() < 0) {
            Py_DECREF(value);
            return -1;
        }
        items_[n_++] = {key, value};
        return 0;
    }
    int flush() noexcept {
        int rc = 0;
        for (int i = 0; i < n_; ++i) {
            if (rc == 0 && PyDict_SetItem(out_, items_[i].key, items_[i].value) < 0) rc = -1;
            Py_DECREF(items_[i].value);
        }
        n_ = 0;
        return rc;
    }

private:
    static constexpr int kMax = 16;
    struct Item {
        PyObject* key;
        PyObject* value;
    };
    PyObject* out_;
    Item items_[kMax];
    int n_ = 0;
};

}  // namespace

PyObject* run_one_in(const Serializer& s, const Ctx& ctx, PyObject* obj, bool reiterable_only) noexcept {
    Ref out = Ref::steal(s.out_template ? PyDict_Copy(s.out_template) : PyDict_New());
    if (!out) return nullptr;
    Pending pending(out.get());
    // Takes over `result`.
    auto store = [&](const FieldSpec& f, PyObject* result) noexcept {
        if (s.plain_keys) return pending.add(f.out_key, result);
        const int rc = PyDict_SetItem(out.get(), f.out_key, result);
        Py_DECREF(result);
        return rc;
    };
    // A skipped field leaves no key, so its template entry goes. The template's keys are
    // distinct, so no pending store is for this key.
    auto skip = [&](const FieldSpec& f) noexcept { return s.out_template ? PyDict_DelItem(out.get(), f.out_key) : 0; };
    for (const FieldSpec& f : s.fields) {
        PyObject* result;
        if (f.delegate) {
            result = PyObject_CallMethodObjArgs(f.field, g_names.serialize, f.attribute, obj, s.serialize_arg, nullptr);
            if (!result) return nullptr;
            if (result == ctx.missing) {
                Py_DECREF(result);
                if (skip(f) < 0) return nullptr;
                continue;
            }
        } else {
            Ref value = Ref::steal(fetch(f, ctx, obj));
            if (!value) return nullptr;
            PyObject* v = value.get();
            if (v == ctx.missing) {
                v = f.default_value;
                if (v == ctx.missing) {
                    if (skip(f) < 0) return nullptr;
                    continue;
                }
            }
            // Stored whatever it is, even the sentinel: it is not compared again.
            result = passes_unchanged(f.element, v) ? Py_NewRef(v) : apply_in(f.element, ctx, v, reiterable_only);
            if (!result) return nullptr;
        }
        if (store(f, result) < 0) return nullptr;
    }
    if (pending.flush() < 0) return nullptr;
    return out.release();
}

PyObject* run_in(const Serializer& s, const Ctx& ctx, PyObject* obj, bool many, bool reiterable_only) noexcept {
    // Every nested plan passes here, and so does host code that re-enters a plan, so
    // neither can recurse through C frames without bound.
    DepthGuard guard;
    if (!guard.enter(kWhere)) return nullptr;
    // None with many is one object, not an empty iteration.
    if (!many || obj == Py_None) return run_one_in(s, ctx, obj, reiterable_only);
    Ref out = Ref::steal(PyList_New(0));
    if (!out) return nullptr;
    const int rc = for_each_item(obj, reiterable_only, [&](PyObject* item) noexcept {
        Ref r = Ref::steal(run_one_in(s, ctx, item, reiterable_only));
        return r ? PyList_Append(out.get(), r.get()) : -1;
    });
    return rc < 0 ? nullptr : out.release();
}

PyObject* run(const Serializer& s, const Ctx& ctx, PyObject* obj, bool many) noexcept {
    return run_in(s, ctx, obj, many, s.may_fall_back);
}

PyObject* apply(const Element& e, const Ctx& ctx, PyObject* value) noexcept {
    return apply_in(e, ctx, value, true);
}

}  // namespace corvane::dump

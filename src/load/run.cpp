// Load execution: records, fields in plan order, host-field delegation, the unknown-key
// pass and dotted result attributes. Every error path drops the result being built.
#include "load/detail.hpp"
#include "module/names.hpp"

namespace corvane::load {
namespace {

// A field's answer when it stored nothing.
constexpr int kNotStored = 1;

// Absent Direct field: skipped under partial, else required falls back, else the default.
int load_absent(PyObject* result, const LoadFieldSpec& f, const Ctx& ctx, const Partial& partial) noexcept {
    int skipped = partial.skips(f.name);
    if (skipped != 0) return skipped < 0 ? -1 : kNotStored;
    if (f.required) return raise_fallback();
    if (f.default_value == ctx.missing) return kNotStored;
    // Stored as it is: never called, converted or validated.
    return set_load_value(result, f, f.default_value);
}

int load_present(PyObject* result, const LoadFieldSpec& f, const Ctx& ctx, PyObject* raw,
                 const Partial& partial) noexcept {
    if (raw == Py_None) return f.nullable ? set_load_value(result, f, Py_None) : raise_fallback();
    Ref value;
    if (partial.state == Partial::State::Names) {
        Partial narrowed;
        if (Partial::derive(partial, f.name, narrowed) < 0) return -1;
        value = Ref::steal(convert_checked(f.element, f.validators, ctx, raw, narrowed));
    } else {
        value = Ref::steal(convert_checked(f.element, f.validators, ctx, raw, partial));
    }
    return value ? set_load_value(result, f, value.get()) : -1;
}

// field.deserialize(value, name, data[, partial=...]); the host field does everything else.
int load_delegate(PyObject* result, const LoadFieldSpec& f, const Ctx& ctx, PyObject* data, PyObject* raw,
                  const Partial& partial) noexcept {
    if (!raw) {
        int skipped = partial.skips(f.name);
        if (skipped != 0) return skipped < 0 ? -1 : 0;
        raw = ctx.missing;
    }
    Ref kwargs;
    if (partial.state != Partial::State::None) {
        Partial narrowed;
        if (Partial::derive(partial, f.name, narrowed) < 0) return -1;
        PyObject* selection = partial.state == Partial::State::All ? Py_True : narrowed.names.get();
        kwargs = Ref::steal(PyDict_New());
        if (!kwargs || PyDict_SetItem(kwargs.get(), g_names.partial, selection) < 0) return -1;
    }
    Ref args = Ref::steal(PyTuple_Pack(3, raw, f.name, data));
    if (!args) return -1;
    Ref method = Ref::steal(PyObject_GetAttr(f.field, g_names.deserialize));
    Ref out = method ? Ref::steal(PyObject_Call(method.get(), args.get(), kwargs.get())) : Ref();
    if (!out) {
        to_fallback();
        return -1;
    }
    if (out.get() == ctx.missing) return 0;
    return set_load_value(result, f, out.get());
}

// The `in` tests may run host code (a key's __eq__, a container's __contains__) that
// changes the input; rather than guess what the host's own pass would then see, the
// walk falls back.
// Under Reject the first key not in known_keys falls back; under Keep each such key is
// copied, with the input's own key and value objects, after all fields.
int unknown_keys(const LoadSerializer& s, PyObject* data, PyObject* result) noexcept {
    const bool keep = s.extra_keys == ExtraKeys::Keep;
    if (!keep && s.plain_known_keys) {
        // Exact str keys against exact str members: only str hashing and comparison run,
        // so nothing can change `data` under this loop. Any other key takes the careful walk.
        Py_ssize_t pos = 0;
        PyObject *key, *value;
        bool plain = true;
        while (PyDict_Next(data, &pos, &key, &value)) {
            if (!PyUnicode_CheckExact(key)) {
                plain = false;
                break;
            }
            int known = PySet_Contains(s.known_keys, key);
            if (known <= 0) return known < 0 ? -1 : raise_fallback();
        }
        if (plain) return 0;
    }
    DictWalk walk(data);
    Ref key, value;
    for (;;) {
        int more = walk.next(key, value);
        if (more <= 0) return more;
        int known = contains(s.known_keys, key.get());
        if (known < 0) return -1;
        if (known) continue;
        if (!keep) return raise_fallback();
        if (PyDict_SetItem(result, key.get(), value.get()) < 0) return -1;
    }
}

int load_fields(const LoadSerializer& s, const Ctx& ctx, PyObject* data, PyObject* result,
                const Partial& partial) noexcept {
    uint64_t unset = 0;  // template attributes still holding their placeholder
    for (size_t i = 0; i < s.fields.size(); ++i) {
        const LoadFieldSpec& f = s.fields[i];
        // Plain dict lookup, so a subclass's __getitem__/get is not consulted. The value
        // is held at once: converters and validators may change `data`.
        PyObject* found = PyDict_GetItemWithError(data, f.input_key);
        if (!found && PyErr_Occurred()) return -1;
        Ref raw = Ref::borrow(found);
        int rc = f.delegate ? load_delegate(result, f, ctx, data, found, partial)
                 : found    ? load_present(result, f, ctx, found, partial)
                            : load_absent(result, f, ctx, partial);
        if (rc < 0) return -1;
        if (rc == kNotStored) unset |= uint64_t{1} << (i & 63);
    }
    if (s.record_template)
        for (size_t i = 0; unset; ++i, unset >>= 1)
            if ((unset & 1) && PyDict_DelItem(result, s.fields[i].attribute) < 0) return -1;
    return s.extra_keys == ExtraKeys::Ignore ? 0 : unknown_keys(s, data, result);
}

}  // namespace

PyObject* run_one(const LoadSerializer& s, const Ctx& ctx, PyObject* data, const Partial& partial) noexcept {
    if (!is_dict(data)) return raise_fallback();
    DepthGuard guard;
    if (!enter_or_fallback(guard)) return nullptr;
    Ref result = Ref::steal(s.record_template ? PyDict_Copy(s.record_template) : PyDict_New());
    if (!result || load_fields(s, ctx, data, result.get(), partial) < 0) return nullptr;
    return result.release();
}

PyObject* run(const LoadSerializer& s, const Ctx& ctx, PyObject* data, bool many, const Partial& partial) noexcept {
    if (!many) return run_one(s, ctx, data, partial);
    if (!is_sequence(data)) return raise_fallback();
    Ref out = Ref::steal(PyList_New(0));
    if (!out) return nullptr;
    int rc = for_each_item(data, [&](PyObject* record) noexcept -> int {
        Ref loaded = Ref::steal(run_one(s, ctx, record, partial));
        return loaded ? PyList_Append(out.get(), loaded.get()) : -1;
    });
    return rc < 0 ? nullptr : out.release();
}

int set_load_value(PyObject* result, const LoadFieldSpec& f, PyObject* value) noexcept {
    if (f.path.empty()) return PyDict_SetItem(result, f.attribute, value);
    // Each level is held while we descend: storing can run a key's __eq__/__hash__.
    Ref level = Ref::borrow(result);
    for (size_t i = 0; i + 1 < f.path.size(); ++i) {
        PyObject* piece = f.path[i];
        PyObject* next = PyDict_GetItemWithError(level.get(), piece);
        if (next) {
            if (!is_dict(next)) return raise_fallback();
            level = Ref::borrow(next);
            continue;
        }
        if (PyErr_Occurred()) return -1;
        Ref fresh = Ref::steal(PyDict_New());
        if (!fresh || PyDict_SetItem(level.get(), piece, fresh.get()) < 0) return -1;
        level = std::move(fresh);
    }
    return PyDict_SetItem(level.get(), f.path.back(), value);
}

}  // namespace corvane::load

// Load execution: records, fields in plan order, host-field delegation, the unknown-key
// pass and dotted result attributes. Every error path drops the result being built.
#include "load/detail.hpp"
#include "module/names.hpp"

namespace corvane::load {
namespace {

// `held`: the result already holds `raw` under the field's attribute, so a conversion
// that gives back the very object stores nothing.
int load_present(PyObject* result, const LoadFieldSpec& f, const Ctx& ctx, PyObject* raw, const Partial& partial,
                 bool held, bool& pure) noexcept {
    if (raw == Py_None) {
        if (!f.nullable) return raise_fallback();
        return held ? 0 : set_load_value(result, f, Py_None);
    }
    Ref value;
    if (partial.state == Partial::State::Names) {
        Partial narrowed;
        if (Partial::derive(partial, f.name, narrowed) < 0) return -1;
        value = Ref::steal(convert_checked(f.element, f.validators, ctx, raw, narrowed));
    } else {
        value = Ref::steal(convert_checked(f.element, f.validators, ctx, raw, partial, pure));
    }
    if (!value) return -1;
    return held && value.get() == raw ? 0 : set_load_value(result, f, value.get());
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

// One pass over a record's entries in place of a lookup per field, for a walkable plan
// (LoadSerializer::walkable) and a record whose keys are all exact strs: matching them
// against the plan's exact-str input keys is the interpreter's own string comparison,
// so the walk runs no host code. Each value is held, so the slots stay safe whatever
// runs later; they stay *current* only while nothing that could change the record has
// run, which the caller tracks. A record with far more keys than the plan has fields
// is looked up field by field instead: matching each of its keys would cost more.
class RecordWalk {
public:
    RecordWalk() noexcept = default;
    RecordWalk(const RecordWalk&) = delete;
    RecordWalk& operator=(const RecordWalk&) = delete;
    ~RecordWalk() {
        for (size_t i = 0; i < taken_; ++i) Py_XDECREF(raw_[i]);
    }

    // false when the record has a key that is not an exact str, or too many keys;
    // nothing then holds.
    bool read(const LoadSerializer& s, PyObject* data) noexcept {
        const size_t n = s.fields.size();
        if (static_cast<size_t>(PyDict_Size(data)) > 2 * n + 8) return false;
        for (size_t i = 0; i < n; ++i) raw_[i] = nullptr;
        Py_ssize_t pos = 0;
        PyObject *key, *value;
        size_t next = 0;  // records written from this plan come in field order
        size_t entries = 0;
        bool in_order = PyDict_CheckExact(data);
        while (PyDict_Next(data, &pos, &key, &value)) {
            in_order = in_order && entries < n && key == s.fields[entries].attribute &&
                       key == s.fields[entries].input_key;
            ++entries;
            if (!PyUnicode_CheckExact(key)) return false;
            size_t i = field_of(s, key, next);
            if (i == n) {
                // A plain known_keys holds exact strs only: its test is ours alone too.
                if (s.extra_keys == ExtraKeys::Reject) {
                    int known = PySet_Contains(s.known_keys, key);
                    if (known < 0) PyErr_Clear();  // the full pass after the fields decides then
                    unknown_ = unknown_ || known != 1;
                }
                continue;
            }
            if (!s.fields[i].key_known) unknown_ = true;
            // Held once the walk is done, so that the first touches of the values
            // overlap instead of stalling one after another.
            bits::prefetch(value);
            raw_[i] = value;
            next = i + 1;
        }
        for (size_t i = 0; i < n; ++i) Py_XINCREF(raw_[i]);
        taken_ = n;
        prefix_ = in_order ? entries : 0;
        return true;
    }

    PyObject* raw(size_t i) const noexcept { return raw_[i]; }
    // How many leading fields the record holds, in field order, under their very
    // attribute objects, with nothing else: a copy of the record is then a result with
    // those fields stored as they came.
    size_t prefix() const noexcept { return prefix_; }
    // A key that Reject refuses.
    bool unknown() const noexcept { return unknown_; }

private:
    // The field whose input key equals `key` (trying `next` first), or fields.size().
    static size_t field_of(const LoadSerializer& s, PyObject* key, size_t next) noexcept {
        const size_t n = s.fields.size();
        if (next < n && (s.fields[next].input_key == key || PyUnicode_Compare(s.fields[next].input_key, key) == 0))
            return next;
        for (size_t i = 0; i < n; ++i)
            if (s.fields[i].input_key == key) return i;
        for (size_t i = 0; i < n; ++i)
            if (i != next && PyUnicode_Compare(s.fields[i].input_key, key) == 0) return i;
        return n;
    }

    PyObject* raw_[LoadSerializer::kMaxTemplate];
    size_t taken_ = 0;
    size_t prefix_ = 0;
    bool unknown_ = false;
};

// `pure` comes in true when `walk` holds the record as it is now, and leaves true when
// nothing that ran could have changed it or anything else. `result` starts holding the
// attributes of the first `placed` fields: placeholders of the template, or the record's
// own values when it is a copy of the record (`copied`).
int load_fields(const LoadSerializer& s, const Ctx& ctx, PyObject* data, PyObject* result, const Partial& partial,
                const RecordWalk* walk, size_t placed, bool copied, bool& pure) noexcept {
    uint64_t unset = 0;  // placed attributes to drop
    const size_t n = s.fields.size();
    for (size_t i = 0; i < n; ++i) {
        const LoadFieldSpec& f = s.fields[i];
        PyObject* found;
        if (walk && pure) {
            found = walk->raw(i);
        } else {
            // Plain dict lookup, so a subclass's __getitem__/get is not consulted.
            found = PyDict_GetItemWithError(data, f.input_key);
            if (!found && PyErr_Occurred()) return -1;
            pure = false;
        }
        // Held while it loads: host code run by its conversion may drop it from `data`.
        Ref raw = Ref::borrow(found);
        int rc;
        if (f.delegate) {
            pure = false;
            rc = load_delegate(result, f, ctx, data, found, partial);
        } else {
            // What the copy holds is what the walk saw, current only while pure.
            const bool held = copied && i < placed && pure && walk;
            rc = found ? load_present(result, f, ctx, found, partial, held, pure)
                       : load_absent(result, f, ctx, partial, false);
        }
        if (rc < 0) return -1;
        if (rc == kNotStored && i < placed) unset |= uint64_t{1} << i;
    }
    if (drop_placeholders(result, s.fields, unset) < 0) return -1;
    if (s.extra_keys == ExtraKeys::Ignore) return 0;
    // The walk already tested every key, and the record is still the one it saw.
    if (walk && pure && s.extra_keys == ExtraKeys::Reject) return walk->unknown() ? raise_fallback() : 0;
    pure = false;
    return unknown_keys(s, data, result);
}

}  // namespace

PyObject* run_one_traced(const LoadSerializer& s, const Ctx& ctx, PyObject* data, const Partial& partial,
                         bool& pure) noexcept {
    if (!is_dict(data)) return raise_fallback();
    DepthGuard guard;
    if (!enter_or_fallback(guard)) return nullptr;
    RecordWalk walk;
    // A selection of names is tested with `in`, which may run host code: such records are
    // looked up field by field.
    const bool walked = s.walkable && partial.state != Partial::State::Names && walk.read(s, data);
    // Whatever ran before this record, the walk saw it as it is now.
    bool fresh = walked;
    // A record that already reads as its result (its fields in order, nothing else) is
    // copied whole: the fields whose value loads as itself then need no store at all.
    const size_t copied = walked ? walk.prefix() : 0;
    const size_t placed = copied ? copied : s.record_template ? s.fields.size() : 0;
    Ref result = Ref::steal(copied               ? PyDict_Copy(data)
                            : s.record_template ? PyDict_Copy(s.record_template)
                                                : PyDict_New());
    if (!result ||
        load_fields(s, ctx, data, result.get(), partial, walked ? &walk : nullptr, placed, copied != 0, fresh) < 0)
        return nullptr;
    pure = pure && fresh;
    return result.release();
}

PyObject* run_one(const LoadSerializer& s, const Ctx& ctx, PyObject* data, const Partial& partial) noexcept {
    bool pure = true;
    return run_one_traced(s, ctx, data, partial, pure);
}

PyObject* run_traced(const LoadSerializer& s, const Ctx& ctx, PyObject* data, bool many, const Partial& partial,
                     bool& pure) noexcept {
    if (!many) return run_one_traced(s, ctx, data, partial, pure);
    if (!is_sequence(data)) return raise_fallback();
    pure = pure && (PyList_CheckExact(data) || PyTuple_CheckExact(data));
    Ref out = Ref::steal(PyList_New(0));
    if (!out) return nullptr;
    int rc = for_each_item(data, [&](PyObject* record) noexcept -> int {
        Ref loaded = Ref::steal(run_one_traced(s, ctx, record, partial, pure));
        return loaded ? PyList_Append(out.get(), loaded.get()) : -1;
    });
    return rc < 0 ? nullptr : out.release();
}

PyObject* run(const LoadSerializer& s, const Ctx& ctx, PyObject* data, bool many, const Partial& partial) noexcept {
    bool pure = true;
    return run_traced(s, ctx, data, many, partial, pure);
}

int load_absent(PyObject* result, const LoadFieldSpec& f, const Ctx& ctx, const Partial& partial,
                bool none_in_place) noexcept {
    const int skipped = partial.skips(f.name);
    if (skipped != 0) return skipped < 0 ? -1 : kNotStored;
    if (f.required) return raise_fallback();
    if (f.default_value == ctx.missing) return kNotStored;
    if (f.default_value == Py_None && none_in_place) return 0;
    return set_load_value(result, f, f.default_value);
}

int drop_placeholders(PyObject* result, const std::vector<LoadFieldSpec>& fields, uint64_t unset) noexcept {
    for (size_t i = 0; unset; ++i, unset >>= 1)
        if ((unset & 1) && PyDict_DelItem(result, fields[i].attribute) < 0) return -1;
    return 0;
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

#include "json_in/key_index.hpp"

#include <limits>
#include <new>

#include "load/detail.hpp"
#include "module/ref.hpp"

namespace corvane::json_in {

uint64_t key_hash(const char* key, size_t size) noexcept {
    uint64_t h = 0x9E3779B97F4A7C15ull ^ size;
    const char* const end = key + size;
    while (end - key > 8) {
        uint64_t w;
        std::memcpy(&w, key, 8);
        h = (h ^ w) * 0xFF51AFD7ED558CCDull;
        h ^= h >> 32;
        key += 8;
    }
    if (key < end) {
        uint64_t w0, w1;
        short_words(key, static_cast<size_t>(end - key), w0, w1);
        h = (h ^ w0 ^ (w1 >> 7)) * 0xC4CEB9FE1A85EC53ull;
    }
    return h ^ (h >> 29);
}

// Nested plans are made, with their indexes, before the plan that holds them.
Read read_step(const load::LoadElement& e) noexcept {
    switch (e.kind) {
        case load::Kind::Text:
        case load::Kind::Int:
        case load::Kind::StrictInt:
        case load::Kind::Float:
            return Read::Scalar;
        case load::Kind::BoolSet:
            return e.on_true && e.on_false ? Read::Bool : Read::Tree;
        case load::Kind::Nested: {
            const KeyIndex* index = e.serializer->key_index.get();
            if (!index || !index->host_free()) return Read::Tree;
            return e.serializer->many ? Read::Records : Read::Record;
        }
        case load::Kind::ListOf:
            return read_step(*e.child) == Read::Tree ? Read::Tree : Read::List;
        default:
            return Read::Tree;
    }
}

int32_t KeyIndex::lookup(const char* key, uint32_t size) const noexcept {
    if (slots_.size() == 0) return -1;
    for (size_t i = key_hash(key, size) & mask_;; i = (i + 1) & mask_) {
        const int32_t s = table_[i];
        if (s < 0) return -1;
        if (equal(slots_[static_cast<size_t>(s)], key, size)) return s;
    }
}

int KeyIndex::build(const load::LoadSerializer& plan) noexcept {
    const size_t n = plan.fields.size();
    size_t cap = 8;
    while (cap < 2 * n) cap *= 2;
    if (n > static_cast<size_t>(std::numeric_limits<int32_t>::max() / 4) || !table_.assign(cap, -1) ||
        !rows_.reserve_more(n) || !slots_.reserve_more(n)) {
        PyErr_NoMemory();
        return -1;
    }
    mask_ = cap - 1;
    for (size_t i = 0; i < n; ++i) {
        // Host fields are not called from the tree; and an input_key that is not an
        // exact str could hash and compare unlike its text.
        const load::LoadFieldSpec& f = plan.fields[i];
        if (f.delegate || !PyUnicode_CheckExact(f.input_key)) return 0;
        rows_.push_reserved({f.attribute, &f.element, -1, f.nullable, f.validators.empty() && f.path.empty(), false,
                             direct_kinds(f.element), read_step(f.element),
                             f.element.kind == load::Kind::ListOf ? read_step(*f.element.child) : Read::Tree});
    }
    for (size_t i = 0; i < n; ++i) {
        PyObject* input_key = plan.fields[i].input_key;
        Py_ssize_t size;
        const char* key = PyUnicode_AsUTF8AndSize(input_key, &size);
        if (!key) {
            if (!PyErr_ExceptionMatches(PyExc_UnicodeEncodeError)) return -1;
            PyErr_Clear();
            continue;
        }
        if (static_cast<size_t>(size) > std::numeric_limits<uint32_t>::max()) continue;
        const auto usize = static_cast<uint32_t>(size);
        size_t t = key_hash(key, usize) & mask_;
        for (;; t = (t + 1) & mask_) {
            const int32_t s = table_[t];
            if (s < 0) break;
            if (equal(slots_[static_cast<size_t>(s)], key, usize)) {
                rows_[i].slot = s;
                slots_[static_cast<size_t>(s)].shared = true;
                break;
            }
        }
        if (table_[t] >= 0) continue;
        const auto s = static_cast<int32_t>(slots_.size());
        int known = -1;
        if (plan.plain_known_keys && (known = load::contains(plan.known_keys, input_key)) < 0) return -1;
        // Room reserved above.
        slots_.push({key, usize, input_key, static_cast<int8_t>(known), false, static_cast<uint32_t>(i)});
        table_[t] = s;
        rows_[i].slot = s;
    }
    if (!hints_.assign(slots_.size() + 1, -1)) {
        PyErr_NoMemory();
        return -1;
    }
    // Under Reject, a key no field reads sends the record to the walk, which tells
    // known keys from unknown; the keys fields read must all be known for good.
    rejects_ = plan.extra_keys == load::ExtraKeys::Reject;
    one_pass_ = plan.extra_keys == load::ExtraKeys::Ignore || rejects_;
    for (size_t s = 0; s < slots_.size(); ++s) one_pass_ = one_pass_ && (!rejects_ || slots_[s].known == 1);
    host_free_ = true;
    for (size_t i = 0; i < n; ++i) {
        FieldRow& row = rows_[i];
        if (row.slot >= 0) row.shared = slots_[static_cast<size_t>(row.slot)].shared;
        // A value goes straight into the record only for a plain field of its own key;
        // the others (validators, a dotted attribute, a key read twice) load from a tree.
        if (!row.plain || row.shared) row.read = Read::Tree;
        host_free_ = host_free_ && row.read != Read::Tree;
    }
    host_free_ = host_free_ && one_pass_;
    // The key texts side by side, rather than in each str's own buffer: every record
    // compares against them.
    size_t total = 0;
    for (size_t s = 0; s < slots_.size(); ++s) total += slots_[s].size;
    if (!key_bytes_.reserve_more(total ? total : 1)) {
        PyErr_NoMemory();
        return -1;
    }
    for (size_t s = 0; s < slots_.size(); ++s) {
        char* copy = key_bytes_.data() + key_bytes_.size();
        key_bytes_.append(slots_[s].key, slots_[s].size);  // room reserved above
        slots_[s].key = copy;
    }
    return 1;
}

void release_key_index(KeyIndex* index) noexcept { delete index; }

int make_key_index(const load::LoadSerializer& plan, KeyIndex*& out) noexcept {
    out = nullptr;
    auto* index = new (std::nothrow) KeyIndex();
    if (!index) {
        PyErr_NoMemory();
        return -1;
    }
    const int built = index->build(plan);
    if (built <= 0) {
        delete index;
        return built;
    }
    out = index;
    return 0;
}

}  // namespace corvane::json_in

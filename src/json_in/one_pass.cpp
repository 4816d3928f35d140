#include "json_in/one_pass.hpp"

#include <bit>

#include "json_in/record.hpp"
#include "json_in/scan.hpp"

namespace corvane::json_in {

using load::LoadElement;
using load::LoadSerializer;
using load::Partial;

// A record's slots, released however its read ends: what they made has been stored in
// the record by then, or is dropped. Which slots hold a value: the first 64 in `low`,
// any others in the pass's stack from `seen_base`.
struct SlotsHeld {
    OnePass& pass;
    size_t base, seen_base;
    uint64_t low = 0;

    uint64_t& word(size_t s) noexcept { return s < 64 ? low : pass.seen_[seen_base + (s >> 6) - 1]; }
    bool has(size_t s) noexcept { return word(s) >> (s & 63) & 1; }
    void release(uint64_t bits, size_t first) noexcept {
        for (; bits; bits &= bits - 1) Py_XDECREF(pass.entries_[base + first + std::countr_zero(bits)].made);
    }
    ~SlotsHeld() {
        release(low, 0);
        for (size_t w = seen_base; w < pass.seen_.size(); ++w) release(pass.seen_[w], (w - seen_base + 1) * 64);
        pass.entries_.truncate(base);
        pass.seen_.truncate(seen_base);
    }
};

struct ItemsHeld {
    PodStack<PyObject*>& items;
    size_t base;
    ~ItemsHeld() {
        for (size_t i = base; i < items.size(); ++i) Py_DECREF(items[i]);
        items.truncate(base);
    }
};

PyObject* OnePass::read(const LoadSerializer& plan, const Partial& partial, bool document) noexcept {
    const Parser::Mark mark = parser_.mark();
    declined_ = false;
    PyObject* record = this->record(plan, partial, true, document);
    if (record || !declined_) return record;
    if (parser_.out_of_memory()) return PyErr_NoMemory();
    ++declines_;
    parser_.rewind(mark);
    return nullptr;
}

// What is left when a value is not made here: at the top, any value, as a tree for
// the walk to load once the record is read; in a nested record, which must load with
// no host code, only a null (for the record's own null rule), and anything else
// declines.
bool OnePass::leave(bool top, JsonValue& node) noexcept {
    if (top) return parser_.tree(node) || decline();
    return (parser_.peek() == 'n' && parser_.scalar(node)) || decline();
}

// A field's value: true with `made` set, or with `made` null and `node` holding what
// leave() left; false on an error or a decline.
[[gnu::always_inline]] inline bool OnePass::field(const KeyIndex::FieldRow& row, const Partial& partial, bool top,
                                                  JsonValue& node, PyObject*& made) noexcept {
    made = nullptr;
    const uint8_t c = parser_.peek();
    const bool container = c == '{' || c == '[';
    switch (row.read) {
        case Read::Scalar:
        case Read::Bool:
            if (container) break;
            if (!parser_.scalar(node)) return decline();
            if (row.read == Read::Scalar ? takes_direct(row.direct, node) : node.kind == JsonKind::Bool) {
                const load::LoadElement& e = *row.element;
                made = row.read == Read::Scalar ? scalar_to_py(walk_, node)
                                                : Py_NewRef(node.boolean ? e.on_true : e.on_false);
                return made != nullptr;
            }
            return top || node.kind == JsonKind::Null || decline();
        case Read::Record:
            if (c != '{') break;
            return (made = record(*row.element->serializer, partial, false, false)) != nullptr;
        case Read::Records:
            if (c != '[') break;
            return (made = records(*row.element->serializer, partial)) != nullptr;
        case Read::List:
            if (c != '[') break;
            return (made = list(*row.element, row.items, partial)) != nullptr;
        case Read::Tree:
            break;
    }
    return leave(top, node);
}

// A list item that is null: None where the list allows it.
bool OnePass::null_item(const LoadElement& list, PyObject*& item) noexcept {
    JsonValue node;
    if (!list.items_nullable || parser_.peek() != 'n' || !parser_.scalar(node)) return decline();
    item = Py_NewRef(Py_None);
    return true;
}

// `items` is read_step(*e.child), which the caller takes once rather than per list.
PyObject* OnePass::list(const LoadElement& e, Read items, const Partial& partial) noexcept {
    const LoadElement& child = *e.child;
    switch (items) {
        case Read::Scalar: {
            const uint8_t direct = direct_kinds(child);
            return sequence([&](PyObject*& item) -> bool {
                const uint8_t c = parser_.peek();
                JsonValue node;
                if (c == '{' || c == '[' || !parser_.scalar(node)) return decline();
                if (takes_direct(direct, node)) return (item = scalar_to_py(walk_, node)) != nullptr;
                return node.kind == JsonKind::Null && e.items_nullable ? (item = Py_NewRef(Py_None), true) : decline();
            });
        }
        case Read::Bool:
            return sequence([&](PyObject*& item) -> bool {
                const uint8_t c = parser_.peek();
                if (c != 't' && c != 'f') return null_item(e, item);
                JsonValue node;
                if (!parser_.scalar(node)) return decline();
                item = Py_NewRef(node.boolean ? child.on_true : child.on_false);
                return true;
            });
        case Read::Record:
            return sequence([&](PyObject*& item) -> bool {
                if (parser_.peek() != '{') return null_item(e, item);
                return (item = record(*child.serializer, partial, false, false)) != nullptr;
            });
        case Read::Records:
            return sequence([&](PyObject*& item) -> bool {
                if (parser_.peek() != '[') return null_item(e, item);
                return (item = records(*child.serializer, partial)) != nullptr;
            });
        case Read::List: {
            const Read grandchild = read_step(*child.child);
            return sequence([&](PyObject*& item) -> bool {
                if (parser_.peek() != '[') return null_item(e, item);
                return (item = list(child, grandchild, partial)) != nullptr;
            });
        }
        case Read::Tree:
            break;
    }
    return decline();  // not a List step
}

PyObject* OnePass::records(const LoadSerializer& plan, const Partial& partial) noexcept {
    return sequence([&](PyObject*& item) -> bool {
        if (parser_.peek() != '{') return decline();
        return (item = record(plan, partial, false, false)) != nullptr;
    });
}

// A list of the items `item` reads, the parser at its '['.
template <class Item>
PyObject* OnePass::sequence(Item item) noexcept {
    bool empty;
    if (!parser_.open_array(empty)) return decline();
    ItemsHeld held{items_, items_.size()};
    if (!empty) {
        for (;;) {
            PyObject* made;
            if (!item(made)) return nullptr;
            if (!items_.push(made)) {
                Py_DECREF(made);
                return PyErr_NoMemory();
            }
            const int more = parser_.next_item_in_array();
            if (more < 0) return decline();
            if (!more) break;
        }
    }
    const size_t n = items_.size() - held.base;
    PyObject* list = PyList_New(static_cast<Py_ssize_t>(n));
    if (!list) return nullptr;
    for (size_t i = 0; i < n; ++i) PyList_SetItem(list, static_cast<Py_ssize_t>(i), items_[held.base + i]);
    items_.truncate(held.base);  // the list owns them now
    return list;
}

PyObject* OnePass::record(const LoadSerializer& plan, const Partial& partial, bool top, bool document) noexcept {
    const KeyIndex& index = *plan.key_index.get();
    index.prefetch();
    bool empty;
    if (!parser_.open_object(empty)) return decline();
    const size_t slots = index.slot_count();
    const size_t words = slots > 64 ? (slots - 1) / 64 : 0;  // beyond the first 64
    if (!entries_.reserve_more(slots) || !seen_.reserve_more(words)) return PyErr_NoMemory();
    SlotsHeld held{*this, entries_.size(), seen_.size()};
    entries_.extend_reserved(slots);  // read only where seen
    for (size_t w = 0; w < words; ++w) seen_.push_reserved(0);
    if (!empty) {
        for (int32_t s = -1;;) {
            const char* key;
            uint32_t size;
            if (!parser_.key(key, size)) return decline();
            s = index.match(s, key, size);
            if (s < 0) {
                JsonValue skipped;
                if (index.rejects() || !parser_.tree(skipped)) return decline();
            } else {
                JsonValue node;
                PyObject* made;
                if (!field(index.field(index.slot(s).field), partial, top, node, made)) return nullptr;
                // A repeated key: the last value wins, as in json.loads.
                uint64_t& word = held.word(static_cast<size_t>(s));
                const uint64_t bit = uint64_t{1} << (s & 63);
                Entry& entry = entries_[held.base + static_cast<size_t>(s)];
                if (word & bit) Py_XDECREF(entry.made);
                word |= bit;
                entry.node = node;
                entry.made = made;
            }
            const int more = parser_.next_pair();
            if (more < 0) return decline();
            if (!more) break;
        }
    }
    if (document && !parser_.at_end()) return decline();
    struct PassSlots {
        const Entry* entries;
        SlotsHeld& held;
        bool seen(int32_t s) const noexcept { return held.has(static_cast<size_t>(s)); }
        PyObject* made(int32_t s) const noexcept { return entries[s].made; }
        const JsonValue& node(int32_t s) const noexcept { return entries[s].node; }
    };
    return build_record(walk_, plan, index, PassSlots{entries_.data() + held.base, held}, partial);
}

}  // namespace corvane::json_in

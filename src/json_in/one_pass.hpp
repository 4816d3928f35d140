// The one-pass read: a record loaded by its plan as its text is scanned, each value
// made as it is read, with no tree. Only values that are made without host code are
// made this way; a top record keeps the rest as trees, which the walk loads in field
// order once the record is read. Anything else the text holds (a value of another
// type, a null where none is allowed, malformed text) sends the record back to the
// tree walk, which starts over from the same place: as no host code has run, nothing
// of the first attempt shows.
#pragma once
#include "json_in/key_index.hpp"
#include "json_in/parser.hpp"
#include "load/partial.hpp"
#include "load/plan.hpp"

namespace corvane::json_in {

class OnePass {
public:
    OnePass(Parser& parser, Walk& walk) noexcept : parser_(parser), walk_(walk) {}
    OnePass(const OnePass&) = delete;
    OnePass& operator=(const OnePass&) = delete;

    // Whether records of `plan` are read here. A call whose records keep going back to
    // the walk stops trying, rather than reading each twice.
    bool takes(const load::LoadSerializer& plan, const load::Partial& partial) const noexcept {
        const KeyIndex* index = plan.key_index.get();
        return index && index->one_pass() && partial.state != load::Partial::State::Names &&
               declines_ < kMaxDeclines;
    }
    // The record at the parser's '{'. Null with an exception set on an error; null with
    // none when the record is to take the walk, the parser then back at its '{'.
    // `document`: the record is the whole input, and its end is checked before any host
    // code runs, as json.loads refuses a malformed document before anything else.
    PyObject* read(const load::LoadSerializer& plan, const load::Partial& partial, bool document) noexcept;

private:
    static constexpr int kMaxDeclines = 16;
    struct Entry {
        JsonValue node;  // the slot's last value
        PyObject* made;  // owned: what it loads to, or null when the walk is to load it
    };
    friend struct SlotsHeld;
    friend struct ItemsHeld;

    PyObject* record(const load::LoadSerializer& plan, const load::Partial& partial, bool top, bool document) noexcept;
    PyObject* records(const load::LoadSerializer& plan, const load::Partial& partial) noexcept;
    PyObject* list(const load::LoadElement& e, Read items, const load::Partial& partial) noexcept;
    template <class Item>
    PyObject* sequence(Item item) noexcept;
    bool field(const KeyIndex::FieldRow& row, const load::Partial& partial, bool top, JsonValue& node,
               PyObject*& made) noexcept;
    bool leave(bool top, JsonValue& node) noexcept;
    bool null_item(const load::LoadElement& list, PyObject*& item) noexcept;
    // Sends the record back to the walk; converts to null or false for the caller.
    struct Declined {
        operator std::nullptr_t() const noexcept { return nullptr; }
        operator bool() const noexcept { return false; }
    };
    Declined decline() noexcept {
        declined_ = true;
        return {};
    }

    Parser& parser_;
    Walk& walk_;
    PodStack<Entry> entries_;  // the slots of the records being read, innermost last
    PodStack<uint64_t> seen_;  // which of those slots hold a value, past each record's first 64
    PodStack<PyObject*> items_;  // the items of the lists being read, owned
    bool declined_ = false;
    int declines_ = 0;
};

}  // namespace corvane::json_in

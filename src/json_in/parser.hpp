// The scanner: JSON text to JsonValue trees, for a whole document or one item of a
// root array at a time.
#pragma once
#include "json_in/pod_stack.hpp"
#include "json_in/value.hpp"

namespace corvane::json_in {

class Parser {
public:
    Parser(const char* text, size_t size, DocArena& arena) noexcept
        : p_(reinterpret_cast<const uint8_t*>(text)), end_(p_ + size), arena_(arena) {}
    Parser(const Parser&) = delete;
    Parser& operator=(const Parser&) = delete;

    // The whole input as one document, under the parse contract: the JSON grammar plus
    // NaN, Infinity and -Infinity; integers of at most 18 digits; strict UTF-8; at most
    // 200 levels of nesting. Refused covers every document outside that contract.
    ParseResult document(JsonValue& root) noexcept;

    // A root array, item by item: open_array() is false when the input does not start
    // with one. Each next_item() reuses the arena, releasing the previous item's tree.
    enum class Step : uint8_t { Item, End, Refused, NoMemory };
    bool open_array() noexcept;
    Step next_item(JsonValue& item) noexcept;
    // After End: nothing but whitespace may follow.
    ParseResult finish() noexcept;
    // Whether the items not read yet, the closing bracket and the end are well formed;
    // used to learn whether the document as a whole would have parsed.
    ParseResult check_rest() noexcept;

    // What the one-pass read (one_pass.cpp) walks the text with. It takes a tree only of
    // the values it does not make at once. Each false means malformed text (or no memory:
    // out_of_memory()), after which the reader starts over from a mark or gives up.
    uint8_t peek() const noexcept { return p_ < end_ ? *p_ : 0; }
    void skip_space() noexcept { skip_ws(); }
    // At '{': past it, and unless it closes at once (`empty`), past the first key's quote.
    bool open_object(bool& empty) noexcept { return open_in<'}'>(empty); }
    // At '[': past it and any whitespace; `empty` when it closes at once.
    bool open_array(bool& empty) noexcept { return open_in<']'>(empty); }
    // Past a key's opening quote: reads the key and its colon, leaving p_ at the value.
    bool key(const char*& key, uint32_t& n) noexcept;
    // After an object's value: 1 past a comma and the next key's quote, 0 past the closing
    // brace, -1 for malformed text. After an array's item: the same with its bracket.
    int next_pair() noexcept { return next_in<'}'>(); }
    int next_item_in_array() noexcept { return next_in<']'>(); }
    // A value that is no container, or any value as a tree in the arena.
    bool scalar(JsonValue& out) noexcept;
    bool tree(JsonValue& out) noexcept { return value(out); }
    struct Mark {
        const uint8_t* p;
        int depth;
    };
    Mark mark() const noexcept { return {p_, depth_}; }
    // Back at `m`, with nothing left on the stacks by a tree read part way.
    void rewind(Mark m) noexcept {
        p_ = m.p;
        depth_ = m.depth;
        values_.truncate(0);
        pairs_.truncate(0);
    }
    bool out_of_memory() const noexcept { return oom_; }
    bool at_end() noexcept {
        skip_ws();
        return p_ == end_;
    }
    // The start of a root array's next item, as next_item() would read it: Item leaves
    // p_ at the item's first byte.
    Step begin_item() noexcept;
    // After begin_item(): the item at p_ as a tree.
    Step item_tree(JsonValue& item) noexcept {
        return value(item) ? Step::Item : oom_ ? Step::NoMemory : Step::Refused;
    }

private:
    void skip_ws() noexcept {
        const uint8_t* p = p_;
        while (p < end_ && (*p == ' ' || *p == '\n' || *p == '\r' || *p == '\t')) ++p;
        p_ = p;
    }
    // The separators as json.dumps writes them (one space after) or compact text has
    // them (none), read without the whitespace loops; anything else takes the general
    // path. past() needs three bytes of room, so the tests after it read within the text.
    const uint8_t* past(uint8_t sep) const noexcept {
        const uint8_t* p = p_;
        if (end_ - p < 3 || p[0] != sep) return nullptr;
        return p + 1 + (p[1] == ' ');
    }
    bool separator(uint8_t sep) noexcept {
        if (const uint8_t* p = past(sep); p && *p > ' ') {
            p_ = p;
            return true;
        }
        skip_ws();
        if (p_ >= end_ || *p_ != sep) return false;
        ++p_;
        skip_ws();
        return true;
    }
    // After an array item: true past a comma, at the next item.
    bool comma_then_value() noexcept {
        const uint8_t* p = past(',');
        if (!p || *p <= ' ') return false;
        p_ = p;
        return true;
    }
    // After a pair: true past a comma and the next key's opening quote.
    bool comma_then_key() noexcept {
        const uint8_t* p = past(',');
        if (!p || *p != '"') return false;
        p_ = p + 1;
        return true;
    }
    // The two kinds of container, opened and stepped through alike.
    template <uint8_t Close>
    bool open_in(bool& empty) noexcept;
    template <uint8_t Close>
    int next_in() noexcept;
    bool short_plain(const char*& out, uint32_t& n) noexcept;
    bool string_node(JsonValue& out) noexcept;
    bool literal(const char* word, size_t n) noexcept;
    bool value(JsonValue& out) noexcept;
    bool enter() noexcept { return ++depth_ <= kMaxDepth; }
    template <class Slot, class SlotNode>
    bool push_value(PodStack<Slot>& stack, SlotNode slot_node) noexcept;
    bool array(JsonValue& out) noexcept;
    bool object(JsonValue& out) noexcept;
    bool no_memory() noexcept {
        oom_ = true;
        return false;
    }
    ParseResult failure() const noexcept { return oom_ ? ParseResult::NoMemory : ParseResult::Refused; }
    void skip_plain() noexcept;
    bool utf8_sequence() noexcept;
    int scan_plain(const uint8_t* start, const char*& out, uint32_t& n) noexcept;
    bool string(const char*& out, uint32_t& n) noexcept;
    int32_t escape() noexcept;
    bool value_string(JsonValue& out) noexcept;
    bool widen_utf8(const uint8_t* from, const uint8_t* to, uint32_t& max) noexcept;
    bool decode_escaped(const uint8_t* start, uint32_t& max) noexcept;
    bool number(JsonValue& out) noexcept;
    bool fast_number(const uint8_t* p, bool negative, JsonValue& out) noexcept;
    bool slow_number(const uint8_t* start, JsonValue& out) noexcept;

    const uint8_t* p_;
    const uint8_t* end_;
    DocArena& arena_;
    PodStack<JsonValue> values_;
    PodStack<JsonPair> pairs_;
    PodStack<char> scratch_;
    PodStack<uint32_t> units_;  // code points of the escaped string being read
    int depth_ = 0;
    bool oom_ = false;
    bool first_item_ = true;  // streaming: no comma before the first item
};

}  // namespace corvane::json_in

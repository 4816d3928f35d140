// The scanner: JSON text to a JsonValue tree. It accepts a subset of what json.loads
// accepts, and gives every accepted document the value json.loads gives it; anything
// it cannot vouch for (long integers, deep nesting, lone surrogates, byte-order marks)
// is refused so that the caller goes back to the host library.
#include <algorithm>
#include <bit>
#include <cstdlib>
#include <limits>

#include "json_in/parser.hpp"
#include "json_in/scan.hpp"
#include "json_in/to_double.hpp"

namespace corvane::json_in {

DocArena::~DocArena() {
    while (head_) {
        Block* next = head_->next;
        std::free(head_);
        head_ = next;
    }
}

void* DocArena::alloc_slow(size_t n) noexcept {
    // Blocks double up to 1 MiB, so waste stays a fraction of what the document needs;
    // a large array gets a block of its own.
    size_t size = next_size_;
    if (next_size_ < (size_t{1} << 20)) next_size_ *= 2;
    if (size < n) size = n;
    if (size > std::numeric_limits<size_t>::max() - kHeader) return nullptr;
    auto* block = static_cast<Block*>(std::malloc(kHeader + size));
    if (!block) return nullptr;
    block->next = head_;
    head_ = block;
    char* base = reinterpret_cast<char*>(block) + kHeader;
    cur_ = base + n;
    end_ = base + size;
    return base;
}

void DocArena::reset() noexcept {
    if (!head_) return;
    for (Block* b = head_->next; b;) {
        Block* next = b->next;
        std::free(b);
        b = next;
    }
    head_->next = nullptr;
    cur_ = reinterpret_cast<char*>(head_) + kHeader;
}

namespace {

using namespace scan;

struct PlainTable {
    bool plain[256];
    constexpr PlainTable() : plain() {
        for (int c = 0x20; c < 0x80; ++c) plain[c] = c != '"' && c != '\\';
    }
};
constexpr PlainTable kPlain;

struct HexTable {
    int8_t value[256];
    constexpr HexTable() : value() {
        for (int c = 0; c < 256; ++c) value[c] = -1;
        for (int c = '0'; c <= '9'; ++c) value[c] = static_cast<int8_t>(c - '0');
        for (int c = 'a'; c <= 'f'; ++c) value[c] = static_cast<int8_t>(c - 'a' + 10);
        for (int c = 'A'; c <= 'F'; ++c) value[c] = static_cast<int8_t>(c - 'A' + 10);
    }
};
constexpr HexTable kHex;

// Four hex digits at p as a code unit, or -1.
inline int32_t hex4(const uint8_t* p) noexcept {
    const int32_t a = kHex.value[p[0]], b = kHex.value[p[1]], c = kHex.value[p[2]], d = kHex.value[p[3]];
    return (a | b | c | d) < 0 ? -1 : a << 12 | b << 8 | c << 4 | d;
}

// The byte each one-letter escape stands for; 0 for none (\u is read apart).
struct EscapeTable {
    char value[256];
    constexpr EscapeTable() : value() {
        value['"'] = '"';
        value['\\'] = '\\';
        value['/'] = '/';
        value['b'] = '\b';
        value['f'] = '\f';
        value['n'] = '\n';
        value['r'] = '\r';
        value['t'] = '\t';
    }
};
constexpr EscapeTable kEscape;

// Writes the UTF-8 form of cp (no surrogate) at out; returns its length.
inline size_t encode_utf8(uint32_t cp, char* out) noexcept {
    if (cp < 0x80) {
        out[0] = static_cast<char>(cp);
        return 1;
    }
    if (cp < 0x800) {
        out[0] = static_cast<char>(0xC0 | cp >> 6);
        out[1] = static_cast<char>(0x80 | (cp & 0x3F));
        return 2;
    }
    if (cp < 0x10000) {
        out[0] = static_cast<char>(0xE0 | cp >> 12);
        out[1] = static_cast<char>(0x80 | (cp >> 6 & 0x3F));
        out[2] = static_cast<char>(0x80 | (cp & 0x3F));
        return 3;
    }
    out[0] = static_cast<char>(0xF0 | cp >> 18);
    out[1] = static_cast<char>(0x80 | (cp >> 12 & 0x3F));
    out[2] = static_cast<char>(0x80 | (cp >> 6 & 0x3F));
    out[3] = static_cast<char>(0x80 | (cp & 0x3F));
    return 4;
}

// Many arrays are short (a coordinate pair, a few ids): copied in place rather than
// through a call to memcpy.
inline void copy_items(JsonValue* to, const JsonValue* from, size_t n) noexcept {
    if (n <= 4) {
        for (size_t i = 0; i < n; ++i) to[i] = from[i];
    } else {
        std::memcpy(static_cast<void*>(to), from, n * sizeof(JsonValue));
    }
}


}  // namespace

bool Parser::literal(const char* word, size_t n) noexcept {
    if (static_cast<size_t>(end_ - p_) < n || std::memcmp(p_, word, n) != 0) return false;
    p_ += n;
    return true;
}

// Tests in order of how common each kind is: conditional branches that the processor
// predicts well, where a jump table's one indirect branch would keep missing.
bool Parser::value(JsonValue& out) noexcept {
    const uint8_t c = *p_;
    if (is_digit(c) || c == '-') return number(out);
    if (c == '"') return string_node(out);
    if (c == 'n') {
        out.kind = JsonKind::Null;
        return literal("null", 4);
    }
    if (c == 't' || c == 'f') {
        out.kind = JsonKind::Bool;
        out.boolean = c == 't';
        return c == 't' ? literal("true", 4) : literal("false", 5);
    }
    if (c == '{') return object(out);
    if (c == '[') return array(out);
    if (c == 'N') {
        out.kind = JsonKind::Float;
        out.number = std::numeric_limits<double>::quiet_NaN();
        return literal("NaN", 3);
    }
    if (c == 'I') {
        out.kind = JsonKind::Float;
        out.number = std::numeric_limits<double>::infinity();
        return literal("Infinity", 8);
    }
    return false;
}

// Reads a value onto the top of `stack`; `slot_node` fills in the rest of a slot and
// gives its node. A scalar is written in place: it touches neither stack, so the slot
// cannot move meanwhile, while a node built aside and copied would be read back whole
// just after its fields were stored one by one, which stalls the processor. A
// container may grow the stack, so it is built aside.
template <class Slot, class SlotNode>
bool Parser::push_value(PodStack<Slot>& stack, SlotNode slot_node) noexcept {
    const uint8_t c = *p_;
    if (c != '[' && c != '{') {
        if (!stack.reserve_more(1)) return no_memory();
        JsonValue& node = slot_node(stack.data()[stack.size()]);
        node = JsonValue();
        // Numbers and strings, the commonest values, are read without the call through
        // value().
        bool ok;
        if (is_digit(c) || c == '-') {
            ok = number(node);
        } else if (c == '"') {
            ok = string_node(node);
        } else {
            ok = value(node);
        }
        if (!ok) return false;
        stack.extend_reserved(1);
        return true;
    }
    JsonValue v;
    if (!(c == '[' ? array(v) : object(v))) return false;
    if (!stack.reserve_more(1)) return no_memory();
    // The fields a container sets, each read as it was written.
    JsonValue& node = slot_node(stack.data()[stack.size()]);
    node = JsonValue();
    node.kind = v.kind;
    node.size = v.size;
    node.items = v.items;
    stack.extend_reserved(1);
    return true;
}

bool Parser::array(JsonValue& out) noexcept {
    if (!enter()) return false;
    ++p_;
    skip_ws();
    out.kind = JsonKind::Array;
    out.size = 0;
    out.items = nullptr;
    if (p_ < end_ && *p_ == ']') {
        ++p_;
        --depth_;
        return true;
    }
    const size_t base = values_.size();
    for (;;) {
        if (p_ >= end_) return false;
        if (!push_value(values_, [](JsonValue& slot) -> JsonValue& { return slot; })) return false;
        if (comma_then_value()) continue;
        skip_ws();
        if (p_ >= end_) return false;
        const uint8_t c = *p_++;
        if (c == ']') break;
        if (c != ',') return false;
        skip_ws();
    }
    const size_t n = values_.size() - base;
    if (n > std::numeric_limits<uint32_t>::max()) return false;
    auto* items = static_cast<JsonValue*>(arena_.alloc(n * sizeof(JsonValue)));
    if (!items) return no_memory();
    copy_items(items, values_.data() + base, n);
    values_.truncate(base);
    out.size = static_cast<uint32_t>(n);
    out.items = items;
    --depth_;
    return true;
}

bool Parser::object(JsonValue& out) noexcept {
    if (!enter()) return false;
    ++p_;
    skip_ws();
    out.kind = JsonKind::Object;
    out.size = 0;
    out.pairs = nullptr;
    if (p_ < end_ && *p_ == '}') {
        ++p_;
        --depth_;
        return true;
    }
    if (p_ >= end_ || *p_ != '"') return false;
    ++p_;
    const size_t base = pairs_.size();
    for (;;) {
        // Here p_ is past the key's opening quote.
        const char* key;
        uint32_t key_size;
        if (!short_plain(key, key_size) && !string(key, key_size)) return false;
        if (!separator(':')) return false;
        auto pair_node = [&](JsonPair& slot) -> JsonValue& {
            slot.key = key;
            slot.key_size = key_size;
            return slot.value;
        };
        if (p_ >= end_ || !push_value(pairs_, pair_node)) return false;
        if (comma_then_key()) continue;
        skip_ws();
        if (p_ >= end_) return false;
        const uint8_t c = *p_++;
        if (c == '}') break;
        if (c != ',') return false;
        skip_ws();
        if (p_ >= end_ || *p_ != '"') return false;
        ++p_;
    }
    const size_t n = pairs_.size() - base;
    if (n > std::numeric_limits<uint32_t>::max()) return false;
    auto* pairs = static_cast<JsonPair*>(arena_.alloc(n * sizeof(JsonPair)));
    if (!pairs) return no_memory();
    std::memcpy(static_cast<void*>(pairs), pairs_.data() + base, n * sizeof(JsonPair));
    pairs_.truncate(base);
    out.size = static_cast<uint32_t>(n);
    out.pairs = pairs;
    --depth_;
    return true;
}

// Advances over bytes that can be copied as they are, sixteen or eight at a time.
// Works on a local copy of p_: stores through `this` would make the compiler reload
// the bounds on every step.
void Parser::skip_plain() noexcept {
    const uint8_t* p = p_;
    const uint8_t* const end = end_;
#if defined(__SSE2__) || defined(_M_X64)
    while (end - p >= 16) {
        if (const unsigned m = stop_mask(p)) {
            p_ = p + std::countr_zero(m);
            return;
        }
        p += 16;
    }
#endif
    if constexpr (std::endian::native == std::endian::little) {
        while (end - p >= 8) {
            uint64_t w;
            std::memcpy(&w, p, 8);
            if (const uint64_t m = attention(w)) {
                p_ = p + (std::countr_zero(m) >> 3);
                return;
            }
            p += 8;
        }
    }
    while (p < end && kPlain.plain[*p]) ++p;
    p_ = p;
}

// One multi-byte UTF-8 sequence at p_, strictly: no overlong forms, no encoded
// surrogates, nothing above U+10FFFF.
bool Parser::utf8_sequence() noexcept {
    const uint8_t c = p_[0];
    const size_t left = static_cast<size_t>(end_ - p_);
    auto cont = [](uint8_t b) { return (b & 0xC0) == 0x80; };
    if (c >= 0xC2 && c <= 0xDF) {
        if (left < 2 || !cont(p_[1])) return false;
        p_ += 2;
        return true;
    }
    if (c >= 0xE0 && c <= 0xEF) {
        if (left < 3) return false;
        const uint8_t lo = c == 0xE0 ? 0xA0 : 0x80;
        const uint8_t hi = c == 0xED ? 0x9F : 0xBF;
        if (p_[1] < lo || p_[1] > hi || !cont(p_[2])) return false;
        p_ += 3;
        return true;
    }
    if (c >= 0xF0 && c <= 0xF4) {
        if (left < 4) return false;
        const uint8_t lo = c == 0xF0 ? 0x90 : 0x80;
        const uint8_t hi = c == 0xF4 ? 0x8F : 0xBF;
        if (p_[1] < lo || p_[1] > hi || !cont(p_[2]) || !cont(p_[3])) return false;
        p_ += 4;
        return true;
    }
    return false;
}

// p_ is just past the opening quote. 1: the string has no escape and ends here, its
// text a view into the input; 0: p_ stands on its first backslash; -1: malformed.
int Parser::scan_plain(const uint8_t* start, const char*& out, uint32_t& n) noexcept {
    for (;;) {
        skip_plain();
        if (p_ >= end_) return -1;
        const uint8_t c = *p_;
        if (c == '"') {
            if (static_cast<size_t>(p_ - start) > std::numeric_limits<uint32_t>::max()) return -1;
            out = reinterpret_cast<const char*>(start);
            n = static_cast<uint32_t>(p_ - start);
            ++p_;
            return 1;
        }
        if (c == '\\') return 0;
        if (c < 0x80 || !utf8_sequence()) return -1;
    }
}

// A key: UTF-8 always, as key matching compares bytes. Keys with escapes are rare.
bool Parser::string(const char*& out, uint32_t& n) noexcept {
    const uint8_t* start = p_;
    if (const int r = scan_plain(start, out, n)) return r > 0;
    uint32_t max;
    if (!decode_escaped(start, max)) return false;
    const size_t count = units_.size();
    if (count > std::numeric_limits<uint32_t>::max() / 4) return false;
    char* copy = static_cast<char*>(arena_.alloc(count ? 4 * count : 1));
    if (!copy) return no_memory();
    size_t len = 0;
    for (size_t i = 0; i < count; ++i) len += encode_utf8(units_[i], copy + len);
    arena_.shrink_last(copy, count ? 4 * count : 1, len ? len : 1);
    out = copy;
    n = static_cast<uint32_t>(len);
    return true;
}

// The escape at p_ (a backslash) as a code point, a surrogate pair joined; -1 when it
// is malformed. json.loads would keep a lone surrogate as it is, which the tree cannot
// hold as UTF-8, so those are refused too.
int32_t Parser::escape() noexcept {
    if (end_ - p_ < 2) return -1;
    const uint8_t e = p_[1];
    if (e != 'u') {
        const char plain = kEscape.value[e];
        if (!plain) return -1;
        p_ += 2;
        return static_cast<uint8_t>(plain);
    }
    if (end_ - p_ < 6) return -1;
    int32_t cp = hex4(p_ + 2);
    if (cp < 0 || (cp >= 0xDC00 && cp <= 0xDFFF)) return -1;
    p_ += 6;
    if (cp >= 0xD800 && cp <= 0xDBFF) {
        if (end_ - p_ < 6 || p_[0] != '\\' || p_[1] != 'u') return -1;
        const int32_t low = hex4(p_ + 2);
        if (low < 0xDC00 || low > 0xDFFF) return -1;
        p_ += 6;
        cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
    }
    return cp;
}

// A value string. One with escapes is decoded once, to the code units its str is made
// from, rather than to UTF-8 that would be decoded again.
bool Parser::value_string(JsonValue& out) noexcept {
    const uint8_t* start = p_;
    out.form = StrForm::Utf8;
    if (const int r = scan_plain(start, out.str, out.size)) return r > 0;
    uint32_t max;
    if (!decode_escaped(start, max)) return false;
    const uint32_t* units = units_.data();
    const size_t n = units_.size();
    if (max < 0x100) {
        if (n > std::numeric_limits<uint32_t>::max()) return false;
        auto* bytes = static_cast<uint8_t*>(arena_.alloc(n ? n : 1));
        if (!bytes) return no_memory();
        for (size_t i = 0; i < n; ++i) bytes[i] = static_cast<uint8_t>(units[i]);
        out.form = StrForm::Latin1;
        out.str = reinterpret_cast<const char*>(bytes);
        out.size = static_cast<uint32_t>(n);
        return true;
    }
    size_t astral = 0;  // code points that take two UTF-16 units
    if constexpr (sizeof(wchar_t) == 2) {
        if (max >= 0x10000)
            for (size_t i = 0; i < n; ++i) astral += units[i] >= 0x10000;
    }
    const size_t wide = n + astral;
    if (wide > std::numeric_limits<uint32_t>::max() / sizeof(wchar_t)) return false;
    auto* w = static_cast<wchar_t*>(arena_.alloc(wide * sizeof(wchar_t)));
    if (!w) return no_memory();
    if constexpr (sizeof(wchar_t) == 2) {
        wchar_t* o = w;
        for (size_t i = 0; i < n; ++i) {
            const uint32_t cp = units[i];
            if (cp >= 0x10000) {
                *o++ = static_cast<wchar_t>(0xD800 + ((cp - 0x10000) >> 10));
                *o++ = static_cast<wchar_t>(0xDC00 + ((cp - 0x10000) & 0x3FF));
            } else {
                *o++ = static_cast<wchar_t>(cp);
            }
        }
    } else {
        std::memcpy(w, units, n * sizeof(wchar_t));
    }
    out.form = StrForm::Wide;
    out.str = reinterpret_cast<const char*>(w);
    out.size = static_cast<uint32_t>(wide);
    return true;
}

// Appends the code points of [from, to), UTF-8 that has been validated, to units_.
bool Parser::widen_utf8(const uint8_t* from, const uint8_t* to, uint32_t& max) noexcept {
    if (!units_.reserve_more(static_cast<size_t>(to - from))) return no_memory();
    uint32_t* const first = units_.data() + units_.size();
    uint32_t* out = first;
    uint32_t top = max;
    while (from < to) {
        uint32_t cp = *from;
        if (cp < 0x80) {
            ++from;
        } else if (cp < 0xE0) {
            cp = (cp & 0x1F) << 6 | (from[1] & 0x3F);
            from += 2;
        } else if (cp < 0xF0) {
            cp = (cp & 0x0F) << 12 | (from[1] & 0x3F) << 6 | (from[2] & 0x3F);
            from += 3;
        } else {
            cp = (cp & 0x07) << 18 | (from[1] & 0x3F) << 12 | (from[2] & 0x3F) << 6 | (from[3] & 0x3F);
            from += 4;
        }
        if (cp > top) top = cp;
        *out++ = cp;
    }
    max = top;
    units_.extend_reserved(static_cast<size_t>(out - first));
    return true;
}

constexpr size_t kEscapeBlock = 32;

// The code points of the string from `start` to its closing quote into units_, and the
// largest into `max`; p_ stands on its first backslash and ends past the quote.
bool Parser::decode_escaped(const uint8_t* start, uint32_t& max) noexcept {
    units_.truncate(0);
    max = 0;
    if (!widen_utf8(start, p_, max)) return false;
    for (;;) {
        const uint8_t* run = p_;
        skip_plain();
        if (!widen_utf8(run, p_, max)) return false;
        if (p_ >= end_) return false;
        const uint8_t c = *p_;
        if (c == '"') {
            ++p_;
            return true;
        }
        if (c == '\\') {
            // Text json.dumps wrote as ASCII is mostly runs of \u escapes of plain code
            // points, broken by punctuation and other escapes; all three are decoded
            // here in blocks of room reserved up front. A step reads at most six bytes
            // and a block takes no more steps than the text has room for, so a step
            // tests neither bound. Locals throughout: stores through `this` would
            // reload them every step.
            bool full;
            do {
                if (!units_.reserve_more(kEscapeBlock)) return no_memory();
                uint32_t* const first = units_.data() + units_.size();
                uint32_t* out = first;
                const uint8_t* p = p_;
                uint32_t* const stop = first + std::min(kEscapeBlock, static_cast<size_t>(end_ - p) / 6);
                uint32_t top = max;
                while (out < stop) {
                    int32_t cp = *p;
                    if (cp == '\\') {
                        if (p[1] == 'u') {
                            if ((cp = hex4(p + 2)) < 0 || (cp >= 0xD800 && cp <= 0xDFFF)) break;
                            p += 6;
                        } else {
                            if (!(cp = static_cast<uint8_t>(kEscape.value[p[1]]))) break;
                            p += 2;
                        }
                    } else if (kPlain.plain[cp]) {
                        ++p;
                    } else {
                        break;
                    }
                    *out++ = static_cast<uint32_t>(cp);
                    top = std::max(top, static_cast<uint32_t>(cp));
                }
                // A surrogate pair, a bad escape, or one too near the end for a block
                // step, is read on its own and ends the block.
                if (out < first + kEscapeBlock && p < end_ && *p == '\\') {
                    p_ = p;
                    const int32_t cp = escape();
                    if (cp < 0) return false;
                    p = p_;
                    *out++ = static_cast<uint32_t>(cp);
                    top = std::max(top, static_cast<uint32_t>(cp));
                }
                max = top;
                p_ = p;
                full = out == first + kEscapeBlock;
                units_.extend_reserved(static_cast<size_t>(out - first));
            } while (p_ < end_ && (full || *p_ == '\\'));
            continue;
        }
        if (c < 0x80) return false;  // a raw control byte
        const uint8_t* seq = p_;
        if (!utf8_sequence() || !widen_utf8(seq, p_, max)) return false;
    }
}

// Eight ASCII digits at p as their value, or -1 when any byte is not a digit: one
// word read and three multiplications, each folding neighbouring groups of digits.
inline int64_t eight_digits(const uint8_t* p) noexcept {
    uint64_t w;
    std::memcpy(&w, p, 8);
    if constexpr (std::endian::native != std::endian::little) {
        w = 0;
        for (int i = 7; i >= 0; --i) w = w << 8 | p[i];
    }
    // A digit is 0x30-0x39: high nibble 3, and adding 6 leaves it below 0x40.
    if ((((w & 0xF0F0F0F0F0F0F0F0ull) | (((w + 0x0606060606060606ull) & 0xF0F0F0F0F0F0F0F0ull) >> 4))) !=
        0x3333333333333333ull)
        return -1;
    w = (w & 0x0F0F0F0F0F0F0F0Full) * (10 * 256 + 1) >> 8;
    w = (w & 0x00FF00FF00FF00FFull) * (100 * 65536 + 1) >> 16;
    return static_cast<int64_t>((w & 0x0000FFFF0000FFFFull) * (10000 * 4294967296ull + 1) >> 32);
}

// The same for four digits.
inline int32_t four_digits(const uint8_t* p) noexcept {
    uint32_t b;
    std::memcpy(&b, p, 4);
    if constexpr (std::endian::native != std::endian::little) b = uint32_t{p[0]} | p[1] << 8 | p[2] << 16 | uint32_t{p[3]} << 24;
    uint64_t w = b;
    if ((((w & 0xF0F0F0F0ull) | (((w + 0x06060606ull) & 0xF0F0F0F0ull) >> 4))) != 0x33333333ull) return -1;
    w = (w & 0x0F0F0F0Full) * (10 * 256 + 1) >> 8;
    w = (w & 0x00FF00FFull) * (100 * 65536 + 1) >> 16;
    return static_cast<int32_t>(w & 0xFFFF);
}

// The length of the run of ASCII digits that starts the word's first byte (0 to 8).
// A non-digit is below '0' (the subtraction borrows), above '9' (adding 0x46 carries
// into bit 7) or not ASCII; carries and borrows only reach bytes above it.
inline unsigned digit_run(uint64_t w) noexcept {
    const uint64_t stop = ((w + kOnes * 0x46) | (w - kOnes * '0') | w) & kHighs;
    return stop ? static_cast<unsigned>(std::countr_zero(stop)) >> 3 : 8;
}

// The value of the first n (1 to 8) digits of the word: shifted to the top, the bytes
// below them are leading zeros and those past them fall off.
inline uint64_t run_value(uint64_t w, unsigned n) noexcept {
    uint64_t t = (w - kOnes * '0') << (8 * (8 - n));
    t = (t * (10 * 256 + 1) >> 8) & 0x00FF00FF00FF00FFull;
    t = (t * (100 * 65536 + 1) >> 16) & 0x0000FFFF0000FFFFull;
    return t * (10000 * 4294967296ull + 1) >> 32;
}

// Powers of ten that are exact doubles.
constexpr double kPow10[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                             1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

// w * 10**e10 with the sign applied, every digit of the literal in w; false when the
// fast conversion leaves it undecided. A w up to 2^53 and a power of ten up to 1e22 are
// both exact doubles, so one multiplication or division rounds correctly: the double
// float() gives.
inline bool exact_digits_to_double(uint64_t w, int64_t e10, bool negative, double& out) noexcept {
    if (w <= (uint64_t{1} << 53) && e10 >= -22 && e10 <= 22) {
        const double d = e10 < 0 ? static_cast<double>(w) / kPow10[-e10] : static_cast<double>(w) * kPow10[e10];
        out = negative ? -d : d;
        return true;
    }
    return decimal_to_double(w, e10, negative, out);
}

constexpr uint64_t kPow10Int[] = {1, 10, 100, 1'000, 10'000, 100'000, 1'000'000, 10'000'000, 100'000'000};

// Bytes a fast number may read from its first digit: an integer of up to 18 digits and
// the byte after, or an integer part of up to seven digits, the point and at most 19
// digits in all, read eight at a time, and the byte after.
constexpr ptrdiff_t kFastNumberRoom = 32;

// The common shapes: an integer, or a short integer part and a fraction read by the
// word, 19 digits at most; no exponent. False leaves p_ alone for the general reading,
// which also tells malformed text apart.
[[gnu::always_inline]] inline bool Parser::fast_number(const uint8_t* p, bool negative, JsonValue& out) noexcept {
    // The integer part is short and of steady length in real data: a predicted loop
    // keeps the next byte's address off the chain of arithmetic a word read puts it on.
    const uint8_t* const first = p;
    uint64_t mantissa = *p++ - '0';
    if (mantissa == 0) {
        if (is_digit(*p)) return false;
    } else {
        while (is_digit(*p)) {
            mantissa = mantissa * 10 + (*p++ - '0');
            if (p - first > 18) return false;
        }
    }
    auto digits = static_cast<unsigned>(p - first);
    uint64_t w;
    unsigned n;
    if (*p != '.') {
        if (*p == 'e' || *p == 'E') return false;
        p_ = p;
        out.kind = JsonKind::Int;
        out.integer = negative ? -static_cast<int64_t>(mantissa) : static_cast<int64_t>(mantissa);
        return true;
    }
    if (digits > 7) return false;  // the fraction's reads below stay within the room
    const uint8_t* const fraction = ++p;
    do {
        std::memcpy(&w, p, 8);
        n = digit_run(w);
        if ((digits += n) > 19) return false;
        if (n) mantissa = mantissa * kPow10Int[n] + run_value(w, n);
        p += n;
    } while (n == 8);
    const auto fraction_used = static_cast<int64_t>(p - fraction);
    if (fraction_used == 0 || *p == 'e' || *p == 'E') return false;
    double d;
    if (!exact_digits_to_double(mantissa, -fraction_used, negative, d)) return false;
    p_ = p;
    out.kind = JsonKind::Float;
    out.number = d;
    return true;
}

// Integers of up to 18 digits are exact in int64; a longer integer part would need
// a big integer (and json.loads may refuse it by its digit limit), so it is refused.
// Reads through a local pointer: stores through `this` would reload the bounds.
bool Parser::number(JsonValue& out) noexcept {
    const uint8_t* const start = p_;
    const uint8_t* const end = end_;
    const uint8_t* p = p_;
    const bool negative = *p == '-';
    if (negative) {
        ++p;
        if (p < end && *p == 'I') {
            p_ = p;
            out.kind = JsonKind::Float;
            out.number = -std::numeric_limits<double>::infinity();
            return literal("Infinity", 8);
        }
    }
    if (p >= end || !is_digit(*p)) return false;
    if constexpr (std::endian::native == std::endian::little) {
        if (end - p >= kFastNumberRoom && fast_number(p, negative, out)) return true;
    }
    uint64_t mantissa = 0;  // the first 19 significant digits, integer part and fraction
    if (*p == '0') {
        ++p;
    } else {
        const uint8_t* first = p;
        while (p < end && is_digit(*p)) mantissa = mantissa * 10 + (*p++ - '0');
        if (p - first > 18) return false;
    }
    bool is_float = false;
    bool truncated = false;     // digits beyond `mantissa` were dropped
    int64_t fraction_used = 0;  // fraction digits in `mantissa`, leading zeros included
    if (p < end && *p == '.') {
        ++p;
        if (p >= end || !is_digit(*p)) return false;
        // Eight at a time while the mantissa has room for them.
        while (end - p >= 8 && mantissa < 10'000'000'000ull) {
            const int64_t v = eight_digits(p);
            if (v < 0) break;
            mantissa = mantissa * 100'000'000 + static_cast<uint64_t>(v);
            fraction_used += 8;
            p += 8;
        }
        if (end - p >= 4 && mantissa < 100'000'000'000'000ull) {
            if (const int32_t v = four_digits(p); v >= 0) {
                mantissa = mantissa * 10'000 + static_cast<uint64_t>(v);
                fraction_used += 4;
                p += 4;
            }
        }
        for (; p < end && is_digit(*p); ++p) {
            if (mantissa < 1'000'000'000'000'000'000ull) {
                mantissa = mantissa * 10 + (*p - '0');
                ++fraction_used;
            } else {
                truncated = true;
            }
        }
        is_float = true;
    }
    int64_t exponent = 0;
    if (p < end && (*p == 'e' || *p == 'E')) {
        ++p;
        bool expnegative = false;
        if (p < end && (*p == '+' || *p == '-')) expnegative = *p++ == '-';
        if (p >= end || !is_digit(*p)) return false;
        // Saturating far beyond any input's digit count keeps every result exact: past
        // it the value is an infinity or a zero whatever the digits.
        for (; p < end && is_digit(*p); ++p)
            if (exponent < 1'000'000'000'000'000) exponent = exponent * 10 + (*p - '0');
        if (expnegative) exponent = -exponent;
        is_float = true;
    }
    p_ = p;
    if (!is_float) {
        out.kind = JsonKind::Int;
        out.integer = negative ? -static_cast<int64_t>(mantissa) : static_cast<int64_t>(mantissa);
        return true;
    }
    out.kind = JsonKind::Float;
    const int64_t e10 = exponent - fraction_used;
    double d;
    if (!truncated) {
        if (exact_digits_to_double(mantissa, e10, negative, d)) {
            out.number = d;
            return true;
        }
    } else if (decimal_to_double(mantissa, e10, negative, d)) {
        // With digits dropped the value lies between mantissa and mantissa + 1 at this
        // exponent; when both round to one double, so does the value.
        double upper;
        if (decimal_to_double(mantissa + 1, e10, negative, upper) &&
            std::bit_cast<uint64_t>(upper) == std::bit_cast<uint64_t>(d)) {
            out.number = d;
            return true;
        }
    }
    return slow_number(start, out);
}

// The interpreter's own conversion, which float() uses, for what the fast one leaves
// undecided: it needs a terminated copy of the literal.
bool Parser::slow_number(const uint8_t* start, JsonValue& out) noexcept {
    scratch_.truncate(0);
    if (!scratch_.append(reinterpret_cast<const char*>(start), static_cast<size_t>(p_ - start)) ||
        !scratch_.push('\0'))
        return no_memory();
    char* end = nullptr;
    const double d = PyOS_string_to_double(scratch_.data(), &end, nullptr);
    if (end != scratch_.data() + scratch_.size() - 1) {
        if (PyErr_Occurred()) {
            if (PyErr_ExceptionMatches(PyExc_MemoryError)) {
                PyErr_Clear();
                return no_memory();
            }
            PyErr_Clear();
        }
        return false;
    }
    out.number = d;
    return true;
}

ParseResult Parser::document(JsonValue& root) noexcept {
    skip_ws();
    if (p_ < end_ && value(root)) {
        skip_ws();
        if (p_ == end_) return ParseResult::Ok;
    }
    return failure();
}

bool Parser::open_array() noexcept {
    skip_ws();
    if (p_ >= end_ || *p_ != '[') return false;
    ++p_;
    ++depth_;  // the root array is a level like any other
    first_item_ = true;
    return true;
}

Parser::Step Parser::begin_item() noexcept {
    arena_.reset();
    skip_ws();
    if (p_ >= end_) return Step::Refused;
    if (*p_ == ']') {
        ++p_;
        --depth_;
        return Step::End;
    }
    if (!first_item_) {
        if (*p_ != ',') return Step::Refused;
        ++p_;
        skip_ws();
        if (p_ >= end_) return Step::Refused;
    }
    first_item_ = false;
    return Step::Item;
}

Parser::Step Parser::next_item(JsonValue& item) noexcept {
    const Step step = begin_item();
    return step == Step::Item ? item_tree(item) : step;
}


ParseResult Parser::finish() noexcept {
    skip_ws();
    return p_ == end_ ? ParseResult::Ok : ParseResult::Refused;
}

ParseResult Parser::check_rest() noexcept {
    JsonValue item;
    for (;;) {
        switch (next_item(item)) {
            case Step::Item:
                continue;
            case Step::End:
                return finish();
            case Step::Refused:
                return ParseResult::Refused;
            case Step::NoMemory:
                return ParseResult::NoMemory;
        }
    }
}

}  // namespace corvane::json_in

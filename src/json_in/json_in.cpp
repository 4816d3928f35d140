// LoadDeserializer.run_json: input acceptance, the parse, and the hand-off to the walk.
#include "json_in/json_in.hpp"

#include "json_in/fused.hpp"
#include "json_in/one_pass.hpp"
#include "json_in/parser.hpp"
#include "module/depth.hpp"
#include "module/fallback.hpp"
#include "module/names.hpp"
#include "module/ref.hpp"

namespace corvane::json_in {
namespace {

// json.loads reaches a str or bytes subclass through these methods (and len()); a
// subclass that redefines any of them may make json.loads see other text, or fail,
// so only subclasses that keep them all are parsed by their data.
constexpr PyObject* Names::*kStrHooks[] = {&Names::getattribute, &Names::class_, &Names::len,
                                           &Names::startswith, nullptr};
constexpr PyObject* Names::*kBytesHooks[] = {&Names::getattribute, &Names::class_, &Names::len, &Names::getitem,
                                             &Names::startswith,   &Names::decode, nullptr};

// 1 when no class of the MRO but `base` and object defines one of `hooks`; 0 when
// one does; -1 with an exception set.
int keeps_hooks(PyObject* data, PyTypeObject* base, PyObject* Names::* const* hooks) noexcept {
    Ref mro = Ref::steal(PyObject_GetAttr(reinterpret_cast<PyObject*>(Py_TYPE(data)), g_names.mro));
    if (!mro) return -1;
    if (!PyTuple_Check(mro.get())) return 0;
    for (Py_ssize_t i = 0; i < PyTuple_Size(mro.get()); ++i) {
        PyObject* cls = PyTuple_GetItem(mro.get(), i);
        if (cls == reinterpret_cast<PyObject*>(base) || cls == reinterpret_cast<PyObject*>(&PyBaseObject_Type))
            continue;
        Ref dict = Ref::steal(PyObject_GetAttr(cls, g_names.dict));
        if (!dict) return -1;
        for (PyObject* Names::* const* h = hooks; *h; ++h) {
            const int has = PySequence_Contains(dict.get(), g_names.**h);
            if (has != 0) return has < 0 ? -1 : 0;
        }
    }
    return 1;
}

// Whether `s`, an exact str, is all ASCII: its own data is then its UTF-8 form. -1
// with an exception set.
int is_ascii(PyObject* s) noexcept {
    Ref answer = Ref::steal(PyObject_CallMethodObjArgs(s, g_names.isascii, nullptr));
    return answer ? PyObject_IsTrue(answer.get()) : -1;
}

// The input text, or false with an exception set (AccelFallback for refused input).
// `holder` keeps a UTF-8 copy alive when one had to be made.
bool input_text(PyObject* data, Ref& holder, const char*& text, Py_ssize_t& size) noexcept {
    if (PyUnicode_Check(data)) {
        const bool exact = PyUnicode_CheckExact(data);
        if (!exact) {
            const int plain = keeps_hooks(data, &PyUnicode_Type, kStrHooks);
            if (plain <= 0) return plain < 0 ? (to_fallback(), false) : (raise_fallback(), false);
        }
        const int ascii = exact ? is_ascii(data) : 0;
        if (ascii < 0) return false;
        if (ascii) {
            text = PyUnicode_AsUTF8AndSize(data, &size);
            return text != nullptr;
        }
        // Any other str gets a copy that ends with the call, rather than a UTF-8 form
        // cached on the caller's object for as long as it lives.
        holder = Ref::steal(PyUnicode_AsUTF8String(data));
        if (holder) {
            char* buf;
            if (PyBytes_AsStringAndSize(holder.get(), &buf, &size) < 0) return false;
            text = buf;
            return true;
        }
        // A lone surrogate: json.loads takes it, but it has no UTF-8 form to parse.
        if (PyErr_ExceptionMatches(PyExc_UnicodeEncodeError)) raise_fallback();
        return false;
    }
    if (PyBytes_Check(data)) {
        if (!PyBytes_CheckExact(data)) {
            const int plain = keeps_hooks(data, &PyBytes_Type, kBytesHooks);
            if (plain <= 0) return plain < 0 ? (to_fallback(), false) : (raise_fallback(), false);
        }
        char* buf;
        if (PyBytes_AsStringAndSize(data, &buf, &size) < 0) return false;
        text = buf;
        return true;
    }
    raise_fallback();
    return false;
}

// json.loads would refuse a malformed document before any host code ran, so an error
// that a record's load passes on unchanged stands only when the rest of the document
// parses too; otherwise the call falls back like any refused parse.
std::nullptr_t item_failed(Parser& parser) noexcept {
    if (!PyErr_ExceptionMatches(g_accel_fallback) && parser.check_rest() == ParseResult::Refused) to_fallback();
    return nullptr;
}

// A root array is loaded item by item as it is parsed, so no tree ever holds more than
// one record.
PyObject* run_many_streamed(const load::LoadSerializer& s, const Ctx& ctx, Parser& parser,
                            const load::Partial& partial) noexcept {
    Ref list = Ref::steal(PyList_New(0));
    if (!list) return nullptr;
    Walk walk{ctx};
    OnePass pass(parser, walk);
    for (;;) {
        Parser::Step step = parser.begin_item();
        Ref record;
        if (step == Parser::Step::Item && parser.peek() == '{' && pass.takes(s, partial)) {
            record = Ref::steal(pass.read(s, partial, false));
            if (!record && PyErr_Occurred()) return item_failed(parser);
        }
        if (!record) {
            JsonValue item;
            if (step == Parser::Step::Item) step = parser.item_tree(item);
            switch (step) {
                case Parser::Step::Item:
                    break;
                case Parser::Step::End:
                    if (parser.finish() != ParseResult::Ok) return raise_fallback();
                    return list.release();
                case Parser::Step::Refused:
                    return raise_fallback();
                case Parser::Step::NoMemory:
                    return PyErr_NoMemory();
            }
            if (item.kind != JsonKind::Object) return raise_fallback();
            record = Ref::steal(run_one_json(walk, s, item, partial));
            if (!record) return item_failed(parser);
        }
        if (PyList_Append(list.get(), record.get()) < 0) return nullptr;
    }
}

}  // namespace

PyObject* run_json(const load::LoadSerializer& s, const Ctx& ctx, PyObject* data, bool many,
                   const load::Partial& partial) noexcept {
    // Host code in the walk may call run_json again; each level must count against the
    // cap, as run's records do. Past it the host decides, as there.
    DepthGuard guard;
    if (!guard.enter(" while loading JSON")) {
        to_fallback();
        return nullptr;
    }
    Ref holder;
    const char* text;
    Py_ssize_t size;
    if (!input_text(data, holder, text, size)) return nullptr;
    Document doc;
    Parser parser(text, static_cast<size_t>(size), doc.arena);
    if (many) {
        if (!parser.open_array()) return raise_fallback();
        return run_many_streamed(s, ctx, parser, partial);
    }
    Walk walk{ctx};
    OnePass pass(parser, walk);
    parser.skip_space();
    if (parser.peek() == '{' && pass.takes(s, partial)) {
        PyObject* record = pass.read(s, partial, true);
        if (record || PyErr_Occurred()) return record;
    }
    switch (parser.document(doc.root)) {
        case ParseResult::Ok:
            break;
        case ParseResult::Refused:
            return raise_fallback();
        case ParseResult::NoMemory:
            return PyErr_NoMemory();
    }
    if (doc.root.kind != JsonKind::Object) return raise_fallback();
    return run_one_json(walk, s, doc.root, partial);
}

}  // namespace corvane::json_in

// Module initialisation and the process-wide state created once: the AccelFallback
// type and the interned names.
#include "module/fallback.hpp"
#include "module/names.hpp"
#include "module/plans.hpp"
#include "module/ref.hpp"

namespace corvane {

PyObject* g_accel_fallback = nullptr;
Names g_names = {};

Failed to_fallback() noexcept {
    if (PyErr_ExceptionMatches(PyExc_KeyboardInterrupt) || PyErr_ExceptionMatches(PyExc_SystemExit)) return {};
    PyErr_Clear();
    return raise_fallback();
}

namespace {

// Single-phase initialisation: the module object and the interpreter that made it are
// kept, so a second initialisation returns the same object and a sub-interpreter is refused.
PyObject* g_module = nullptr;
PyInterpreterState* g_interp = nullptr;

PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT,
    "_core",
    "",
    0,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
};

int intern_names() noexcept {
    struct Entry {
        PyObject** slot;
        const char* text;
    };
    const Entry entries[] = {
        {&g_names.serialize, "serialize"}, {&g_names.deserialize, "deserialize"},
        {&g_names.partial, "partial"},     {&g_names.getitem, "__getitem__"},
        {&g_names.strftime, "strftime"},   {&g_names.name, "name"},
        {&g_names.value, "value"},         {&g_names.decode, "decode"},
        {&g_names.utf_8, "utf-8"},         {&g_names.bytes, "bytes"},
        {&g_names.mro, "__mro__"},         {&g_names.dict, "__dict__"},
        {&g_names.items, "items"},         {&g_names.keys, "keys"},
        {&g_names.getattribute, "__getattribute__"}, {&g_names.class_, "__class__"},
        {&g_names.len, "__len__"},         {&g_names.startswith, "startswith"},
        {&g_names.isascii, "isascii"},
    };
    for (const Entry& e : entries) {
        if (!*e.slot && !(*e.slot = PyUnicode_InternFromString(e.text))) return -1;
    }
    return 0;
}

constexpr const char kFallbackDoc[] =
    "Internal signal: the accelerated load hit an edge case and the caller should fall back to pure-Python "
    "corvane (so errors/values match exactly).";

// Adds `value` (a new reference, stolen) as `name` and appends the name to __all__.
int add_export(PyObject* module, PyObject* all, const char* name, PyObject* value) noexcept {
    if (!value) return -1;
    if (PyModule_AddObject(module, name, value) < 0) {
        Py_DECREF(value);
        return -1;
    }
    Ref text = Ref::steal(PyUnicode_FromString(name));
    return text ? PyList_Append(all, text.get()) : -1;
}

PyObject* create_module() noexcept {
    if (intern_names() < 0) return nullptr;
    if (!g_accel_fallback) {
        g_accel_fallback = PyErr_NewExceptionWithDoc("_core.AccelFallback", kFallbackDoc, PyExc_Exception, nullptr);
        if (!g_accel_fallback) return nullptr;
    }
    Ref module = Ref::steal(PyModule_Create(&module_def));
    if (!module) return nullptr;
    Ref all = Ref::steal(PyList_New(0));
    if (!all || PyModule_AddObject(module.get(), "__all__", Ref::borrow(all.get()).release()) < 0) return nullptr;
    if (add_export(module.get(), all.get(), "DumpSerializer", make_dump_serializer_type(module.get())) < 0 ||
        add_export(module.get(), all.get(), "LoadDeserializer", make_load_deserializer_type(module.get())) < 0) {
        return nullptr;
    }
    Py_INCREF(g_accel_fallback);
    if (add_export(module.get(), all.get(), "AccelFallback", g_accel_fallback) < 0 ||
        add_export(module.get(), all.get(), "PROTOCOL_VERSION", PyLong_FromLong(18)) < 0) {
        return nullptr;
    }
    return module.release();
}

}  // namespace
}  // namespace corvane

PyMODINIT_FUNC PyInit__core(void) {
    using namespace corvane;
    PyInterpreterState* interp = PyInterpreterState_Get();
    if (PyInterpreterState_GetID(interp) != 0 || (g_module && interp != g_interp)) {
        PyErr_SetString(PyExc_ImportError, "corvane_core._core does not support sub-interpreters");
        return nullptr;
    }
    if (g_module) {
        Py_INCREF(g_module);
        return g_module;
    }
    PyObject* module = create_module();
    if (!module) return nullptr;
    // One reference kept for the life of the process.
    Py_INCREF(module);
    g_module = module;
    g_interp = interp;
    return module;
}

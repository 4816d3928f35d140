#include "module/ctx.hpp"

#include "module/arena.hpp"
#include "module/ref.hpp"

namespace corvane {

int Ctx::init(PyObject* missing_sentinel, Arena& arena) noexcept {
    if (!(missing = arena.keep(missing_sentinel))) return -1;
    Ref builtins = Ref::steal(PyImport_ImportModule("builtins"));
    if (!builtins) return -1;
    // Called through these references, so a conversion is exactly int(v), float(v), dict(v).
    if (!(int_type = arena.adopt(PyObject_GetAttrString(builtins.get(), "int")))) return -1;
    if (!(float_type = arena.adopt(PyObject_GetAttrString(builtins.get(), "float")))) return -1;
    if (!(dict_type = arena.adopt(PyObject_GetAttrString(builtins.get(), "dict")))) return -1;
    return 0;
}

}  // namespace corvane

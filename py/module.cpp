// The module quillmatch: the function records, the execution slot that adds
// them to a new module object, the module definition and the exported
// initialisation function, in the layout of CPython's Modules/xxlimited.c.
// Multi-phase initialisation: the interpreter creates the module object and
// then runs the execution slot on it.
#include <iterator>  // std::size
#include <optional>

#include "frame.h"
#include "frame_internal.h"
#include "functions.h"
#include "quillmatch_core/common.h"

namespace quillmatch_py {
namespace {

// ---------------------------------------------------------------------------
// Function records

// The interpreter's entry for `body`, as stored in a record.
template <Body body>
PyObject* entry(PyObject* /*self*/, PyObject* args, PyObject* kwargs) noexcept {
  return trampoline(body, args, kwargs);
}

// Returns `entry<body>` with the type of a record's function field.
template <Body body>
constexpr PyCFunction as_cfunction() {
  // The interpreter calls METH_VARARGS | METH_KEYWORDS entries with three
  // arguments; the record's field has the two-argument type.
  return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(entry<body>));
}

// METH_STATIC is ignored by PyCFunction_NewEx (the records are never used as
// a module method table, which would refuse it).
constexpr int kMethodFlags = METH_VARARGS | METH_KEYWORDS | METH_STATIC;
static_assert(kMethodFlags == 0x23);

PyMethodDef function_records[] = {
    {"levenshtein_bp", as_cfunction<levenshtein_bp>(), kMethodFlags,
     "levenshtein_bp(str_1, str_2, max_len=None, case_insensitive=None, "
     "score_cutoff=None)\n--\n\n"},
    {"damerau_bp", as_cfunction<damerau_bp>(), kMethodFlags,
     "damerau_bp(str_1, str_2, max_len=None, case_insensitive=None, score_cutoff=None)\n--\n\n"},
    {"jaro_winkler_similarity", as_cfunction<jaro_winkler_similarity>(), kMethodFlags,
     "jaro_winkler_similarity(str_1, str_2, p=None, max_len=None, case_insensitive=None, "
     "score_cutoff=None)\n--\n\n"},
    {"levenshtein_batch", as_cfunction<levenshtein_batch>(), kMethodFlags,
     "levenshtein_batch(query, candidates, case_insensitive=None)\n--\n\n"},
    {"damerau_batch", as_cfunction<damerau_batch>(), kMethodFlags,
     "damerau_batch(query, candidates, case_insensitive=None)\n--\n\n"},
    {"jaro_winkler_batch", as_cfunction<jaro_winkler_batch>(), kMethodFlags,
     "jaro_winkler_batch(query, candidates, p=None, case_insensitive=None)\n--\n\n"},
    {"_ingest_owned", as_cfunction<ingest_owned>(), kMethodFlags,
     "_ingest_owned(candidates)\n--\n\n"},
    {"_ingest_borrow", as_cfunction<ingest_borrow>(), kMethodFlags,
     "_ingest_borrow(candidates)\n--\n\n"},
    {"_ingest_borrow_and_deref", as_cfunction<ingest_borrow_and_deref>(), kMethodFlags,
     "_ingest_borrow_and_deref(candidates)\n--\n\n"},
};
static_assert(std::size(function_records) == kFunctionCount);

// ---------------------------------------------------------------------------
// Module execution

// Returns the module's `__all__`, created as an empty list when missing.
PyResult<PyRef> module_all(PyObject* module) {
  PyRef all(PyObject_GetAttr(module, interned(Name::kAll)));
  if (!all) {
    if (!PyErr_ExceptionMatches(PyExc_AttributeError)) return PyErr::fetch();
    PyErr_Clear();
    all = PyRef(PyList_New(0));
    if (!all) constructor_failed("PyList_New");
    if (PyObject_SetAttr(module, interned(Name::kAll), all.get()) != 0) return PyErr::fetch();
    return all;
  }
  if (!has_type_flag(all.get(), Py_TPFLAGS_LIST_SUBCLASS))
    return PyErr::cast_error(all.get(), "list");
  return all;
}

// Adds the nine functions to `module` in table order and lists them in `__all__`.
std::optional<PyErr> add_functions(PyObject* module) {
  if (PyType_IsSubtype(Py_TYPE(module), &PyModule_Type) == 0) {
    return PyErr::cast_error(module, "module");
  }
  for (PyMethodDef& record : function_records) {
    PyRef function;
    {
      PyRef module_name(PyModule_GetNameObject(module));
      if (!module_name) return PyErr::fetch();
      function = PyRef(PyCFunction_NewEx(&record, module, module_name.get()));
    }
    if (!function) return PyErr::fetch();
    PyRef name(PyObject_GetAttr(function.get(), interned(Name::kName)));
    if (!name) return PyErr::fetch();
    if (!is_str(name.get())) return PyErr::cast_error(name.get(), "str");
    auto all = module_all(module);
    if (!all.ok()) return std::move(all.error());
    if (PyList_Append(all.value().get(), name.get()) != 0) {
      quillmatch_core::internal_fault("could not append __name__ to __all__");
    }
    if (PyObject_SetAttr(module, name.get(), function.get()) != 0) return PyErr::fetch();
  }
  return std::nullopt;
}

// The execution slot: adds the functions to `module`. Returns 0, or -1 with
// the exception set, which fails the import; a fault becomes `PanicException`
// as in a module function.
int module_exec(PyObject* module) noexcept {
  try {
    auto error = add_functions(module);
    if (!error) return 0;
    std::move(*error).restore();
  } catch (...) {
    raise_fault();
  }
  return -1;
}

// ---------------------------------------------------------------------------
// Module definition

PyModuleDef_Slot module_slots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(module_exec)},
    {0, nullptr},
};

PyModuleDef module_definition = {
    .m_base = PyModuleDef_HEAD_INIT,
    .m_name = "quillmatch",
    .m_doc = "",
    .m_size = 0,
    .m_methods = nullptr,
    .m_slots = module_slots,
    .m_traverse = nullptr,
    .m_clear = nullptr,
    .m_free = nullptr,
};

}  // namespace
}  // namespace quillmatch_py

PyMODINIT_FUNC PyInit_quillmatch(void) {
  return PyModuleDef_Init(&quillmatch_py::module_definition);
}

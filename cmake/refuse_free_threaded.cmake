# Stops the configuration with a plain explanation when `python` is a
# free-threaded CPython (3.13t, 3.14t): the module is built on the limited
# API, which such an interpreter does not offer, and its Python.h would only
# fail later with an #error. Included from py/CMakeLists.txt after
# find_package(Python).
function(quillmatch_refuse_free_threaded python)
  execute_process(
    COMMAND "${python}" -c "import sysconfig; print(sysconfig.get_config_var('Py_GIL_DISABLED') or 0)"
    OUTPUT_VARIABLE gil_disabled OUTPUT_STRIP_TRAILING_WHITESPACE
    RESULT_VARIABLE status)
  if(status EQUAL 0 AND gil_disabled STREQUAL "1")
    message(FATAL_ERROR
      "quillmatch cannot be built for the free-threaded interpreter ${python}: "
      "the module uses CPython's stable ABI (one cp39-abi3 wheel), which free-threaded "
      "builds do not support. Build and install it with a standard CPython 3.9 or "
      "later (for example python3.13 rather than python3.13t).")
  endif()
endfunction()

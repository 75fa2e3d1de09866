# The warning flags of every target of this project (the core, the module,
# the core's tests, fuzzers and benchmark), defined once: each links
#   target_link_libraries(<target> PRIVATE $<BUILD_INTERFACE:quillmatch_warnings>)
# (BUILD_INTERFACE keeps it out of the installed core's package). The flags
# are GCC's and clang's; another compiler builds with its own defaults.
# QUILLMATCH_WERROR, which the presets and scripts turn on, makes them errors;
# the wheel build leaves it off, so that a newer compiler's new warnings never
# stop a user's build.
add_library(quillmatch_warnings INTERFACE)
target_compile_options(quillmatch_warnings INTERFACE
  $<$<CXX_COMPILER_ID:GNU,Clang>:-Wall -Wextra -Wpedantic -Wconversion -Wno-sign-conversion>
  $<$<AND:$<CXX_COMPILER_ID:GNU,Clang>,$<BOOL:${QUILLMATCH_WERROR}>>:-Werror>)

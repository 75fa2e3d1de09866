# Toolchain for 32-bit x86 (i386), the shipped target, built on an x86-64
# Debian host with g++-multilib. The binaries run natively on the host, so the
# test suite runs under ctest as it does for the host build.
#   cmake --preset i386    (build/i386-core; or -DCMAKE_TOOLCHAIN_FILE=cmake/i386.cmake)
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CMAKE_C_FLAGS_INIT -m32)
set(CMAKE_CXX_FLAGS_INIT -m32)
set(CMAKE_EXE_LINKER_FLAGS_INIT -m32)
set(CMAKE_SHARED_LINKER_FLAGS_INIT -m32)
set(CMAKE_MODULE_LINKER_FLAGS_INIT -m32)
# Libraries and packages of the i386 multiarch only, never the host's.
set(CMAKE_LIBRARY_ARCHITECTURE i386-linux-gnu)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)

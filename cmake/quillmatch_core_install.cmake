# Install rules of the matching core as a C++ library: public headers, the
# static library and a CMake package, so that another project can write
#   find_package(quillmatch_core 0.1 REQUIRED)
#   target_link_libraries(app PRIVATE quillmatch_core::quillmatch_core)
# Included from quillmatch-core/CMakeLists.txt, after the target is defined.
include(CMakePackageConfigHelpers)

set(QUILLMATCH_CORE_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/quillmatch_core)

install(TARGETS quillmatch_core EXPORT quillmatch_core_targets
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
        INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
# Only the public headers: the internal ones stay beside the sources.
install(DIRECTORY ${PROJECT_SOURCE_DIR}/quillmatch-core/include/quillmatch_core
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}
        FILES_MATCHING PATTERN "*.h")
install(EXPORT quillmatch_core_targets
        NAMESPACE quillmatch_core::
        FILE quillmatch_coreTargets.cmake
        DESTINATION ${QUILLMATCH_CORE_CMAKE_DIR})

configure_package_config_file(
  ${PROJECT_SOURCE_DIR}/cmake/quillmatch_coreConfig.cmake.in
  ${PROJECT_BINARY_DIR}/quillmatch_coreConfig.cmake
  INSTALL_DESTINATION ${QUILLMATCH_CORE_CMAKE_DIR})
# Before 1.0 a minor release may change the interface, hence SameMinorVersion.
write_basic_package_version_file(
  ${PROJECT_BINARY_DIR}/quillmatch_coreConfigVersion.cmake
  VERSION ${PROJECT_VERSION}
  COMPATIBILITY SameMinorVersion)
install(FILES ${PROJECT_BINARY_DIR}/quillmatch_coreConfig.cmake
              ${PROJECT_BINARY_DIR}/quillmatch_coreConfigVersion.cmake
        DESTINATION ${QUILLMATCH_CORE_CMAKE_DIR})

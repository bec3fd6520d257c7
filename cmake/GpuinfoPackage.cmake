# The CMake package installed with the DLL: find_package(quillmar-dxgi-gpu-info
# 1.0) gives quillmar::gpuinfo. One install serves MinGW and MSVC hosts alike.
include(CMakePackageConfigHelpers)
set(GPUINFO_PACKAGE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/quillmar-dxgi-gpu-info)
configure_package_config_file(
  ${PROJECT_SOURCE_DIR}/packaging/quillmar-dxgi-gpu-info-config.cmake.in
  ${PROJECT_BINARY_DIR}/package/quillmar-dxgi-gpu-info-config.cmake
  INSTALL_DESTINATION ${GPUINFO_PACKAGE_DIR}
  PATH_VARS CMAKE_INSTALL_BINDIR CMAKE_INSTALL_LIBDIR CMAKE_INSTALL_INCLUDEDIR)
# Same major version, not older than asked for, and 64-bit consumers only.
write_basic_package_version_file(
  ${PROJECT_BINARY_DIR}/package/quillmar-dxgi-gpu-info-config-version.cmake
  VERSION ${PROJECT_VERSION}
  COMPATIBILITY SameMajorVersion)
install(FILES
  ${PROJECT_BINARY_DIR}/package/quillmar-dxgi-gpu-info-config.cmake
  ${PROJECT_BINARY_DIR}/package/quillmar-dxgi-gpu-info-config-version.cmake
  DESTINATION ${GPUINFO_PACKAGE_DIR})

# The other ABI's import library, made from the .def: MSVC-style linkers take
# the .lib, GNU-style ones the .dll.a (either can read the other's, but each
# toolchain's users look for their own).
if(GPUINFO_FRONT_END STREQUAL "MSVC")
  set(other_import_library quillmar-dxgi-gpu-info.dll.a)
else()
  set(other_import_library quillmar-dxgi-gpu-info.lib)
endif()
if(GPUINFO_DLLTOOL)
  set(other_import_library ${PROJECT_BINARY_DIR}/package/${other_import_library})
  add_custom_command(OUTPUT ${other_import_library}
    COMMAND ${GPUINFO_DLLTOOL} -m i386:x86-64 -d ${GPUINFO_DEF} -l ${other_import_library}
    DEPENDS ${GPUINFO_DEF}
    COMMENT "Import library for the other ABI from gpuinfo.def"
    VERBATIM)
  add_custom_target(gpuinfo_other_import_library ALL DEPENDS ${other_import_library})
  install(FILES ${other_import_library} DESTINATION ${CMAKE_INSTALL_LIBDIR})
else()
  message(STATUS "quillmar-dxgi-gpu-info: no llvm-dlltool, so ${other_import_library} is not installed")
endif()

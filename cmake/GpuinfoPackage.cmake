# The CMake package installed with the DLL: find_package(quillmar-dxgi-gpu-info
# 1.0) gives quillmar::gpuinfo. One install serves MinGW and MSVC hosts alike,
# so a GNU-style build also installs an MSVC import library made from the .def.
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

if(NOT GPUINFO_FRONT_END STREQUAL "MSVC")
  find_program(GPUINFO_DLLTOOL NAMES llvm-dlltool-14 llvm-dlltool HINTS ${CMAKE_DLLTOOL})
  if(GPUINFO_DLLTOOL)
    set(msvc_lib ${PROJECT_BINARY_DIR}/package/quillmar-dxgi-gpu-info.lib)
    add_custom_command(OUTPUT ${msvc_lib}
      COMMAND ${GPUINFO_DLLTOOL} -m i386:x86-64 -d ${GPUINFO_DEF} -l ${msvc_lib}
      DEPENDS ${GPUINFO_DEF}
      COMMENT "MSVC import library from gpuinfo.def"
      VERBATIM)
    add_custom_target(gpuinfo_msvc_import_library ALL DEPENDS ${msvc_lib})
    install(FILES ${msvc_lib} DESTINATION ${CMAKE_INSTALL_LIBDIR})
  else()
    message(STATUS "quillmar-dxgi-gpu-info: no llvm-dlltool, so no MSVC import library is installed")
  endif()
endif()

# quillmar-dxgi-gpu-info: the 64-bit Windows DLL as the imported target
# quillmar::gpuinfo. Every path is taken relative to this file, so the
# unpacked bundle works wherever it lies:
#   find_package(quillmar-dxgi-gpu-info 1.0 REQUIRED)
#   target_link_libraries(app PRIVATE quillmar::gpuinfo)
# and copy bin/quillmar-dxgi-gpu-info.dll beside the program.
if(NOT WIN32)
  set(${CMAKE_FIND_PACKAGE_NAME}_FOUND FALSE)
  set(${CMAKE_FIND_PACKAGE_NAME}_NOT_FOUND_MESSAGE "quillmar-dxgi-gpu-info is a Windows DLL; this build targets ${CMAKE_SYSTEM_NAME}.")
  return()
endif()

get_filename_component(_quillmar_gpuinfo_root "${CMAKE_CURRENT_LIST_DIR}/../../.." ABSOLUTE)

if(NOT TARGET quillmar::gpuinfo)
  # MSVC's linker wants its own import library; MinGW links the GNU one.
  if(MSVC OR CMAKE_C_SIMULATE_ID STREQUAL "MSVC" OR CMAKE_CXX_SIMULATE_ID STREQUAL "MSVC")
    set(_quillmar_gpuinfo_implib "${_quillmar_gpuinfo_root}/lib/quillmar-dxgi-gpu-info.lib")
  else()
    set(_quillmar_gpuinfo_implib "${_quillmar_gpuinfo_root}/lib/quillmar-dxgi-gpu-info.dll.a")
  endif()
  add_library(quillmar::gpuinfo SHARED IMPORTED)
  set_target_properties(quillmar::gpuinfo PROPERTIES
    IMPORTED_LOCATION "${_quillmar_gpuinfo_root}/bin/quillmar-dxgi-gpu-info.dll"
    IMPORTED_IMPLIB "${_quillmar_gpuinfo_implib}"
    INTERFACE_INCLUDE_DIRECTORIES "${_quillmar_gpuinfo_root}/include")
  unset(_quillmar_gpuinfo_implib)
endif()

foreach(_quillmar_gpuinfo_file bin/quillmar-dxgi-gpu-info.dll include/gpuinfo.h)
  if(NOT EXISTS "${_quillmar_gpuinfo_root}/${_quillmar_gpuinfo_file}")
    set(${CMAKE_FIND_PACKAGE_NAME}_FOUND FALSE)
    set(${CMAKE_FIND_PACKAGE_NAME}_NOT_FOUND_MESSAGE "${_quillmar_gpuinfo_root}/${_quillmar_gpuinfo_file} is missing.")
  endif()
endforeach()
unset(_quillmar_gpuinfo_file)
unset(_quillmar_gpuinfo_root)

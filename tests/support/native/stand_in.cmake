# binding_stand_in: the library's source built as a Linux shared library on
# the in-memory Windows (binding_library.cpp), which the bindings' tests load
# in place of the DLL. Test-only: never shipped. Included by the native build
# and by the Maven release test's own small build (tests/release/stand_in).
# Needs REPO_ROOT.
add_library(binding_stand_in SHARED
  ${REPO_ROOT}/src/gpuinfo.cpp ${CMAKE_CURRENT_LIST_DIR}/fake_system.cpp ${CMAKE_CURRENT_LIST_DIR}/binding_library.cpp)
set_target_properties(binding_stand_in PROPERTIES OUTPUT_NAME quillmar-dxgi-gpu-info
  LINK_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/binding_library.map)
target_compile_options(binding_stand_in PRIVATE -Wall -Wextra -Wpedantic -Werror)
target_include_directories(binding_stand_in PRIVATE ${CMAKE_CURRENT_LIST_DIR}/winstub ${REPO_ROOT}/include ${REPO_ROOT}/src
  ${REPO_ROOT}/tests/fake_dxgi)
# As in the tests: the library's internal steps declared with external linkage.
target_compile_definitions(binding_stand_in PRIVATE GPUINFO_INTERNAL=)
target_link_options(binding_stand_in PRIVATE
  -Wl,--version-script=${CMAKE_CURRENT_LIST_DIR}/binding_library.map -Wl,--no-undefined)

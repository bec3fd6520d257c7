# The Python and .NET bindings, each with its real runtime on this machine,
# against the library's source built as a Linux shared library on the
# in-memory Windows (binding_library.cpp). Test-only: never shipped.
#
# No sanitizers here: the library is loaded into python3 and mono, which are
# not built with them; the sanitizer builds above cover the same source.
set(BINDINGS_DIR ${REPO_ROOT}/bindings)
set(BINDING_CASES ${BINDINGS_DIR}/testdata/cases.json)

add_library(binding_stand_in SHARED
  ${REPO_ROOT}/src/gpuinfo.cpp fake_system.cpp binding_library.cpp)
set_target_properties(binding_stand_in PROPERTIES OUTPUT_NAME quillmar-dxgi-gpu-info
  LINK_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/binding_library.map)
target_compile_options(binding_stand_in PRIVATE -Wall -Wextra -Wpedantic -Werror)
target_include_directories(binding_stand_in PRIVATE winstub ${REPO_ROOT}/include)
target_link_options(binding_stand_in PRIVATE
  -Wl,--version-script=${CMAKE_CURRENT_SOURCE_DIR}/binding_library.map -Wl,--no-undefined)

# Debian's python3, not whichever comes first on PATH.
find_program(BINDING_PYTHON python3 PATHS /usr/bin NO_DEFAULT_PATH REQUIRED)
add_test(NAME binding_python
  COMMAND ${BINDING_PYTHON} -m unittest -v test_binding
  WORKING_DIRECTORY ${BINDINGS_DIR}/python/tests)
set_tests_properties(binding_python PROPERTIES
  LABELS binding-python
  ENVIRONMENT "GPUINFO_STAND_IN=$<TARGET_FILE:binding_stand_in>;GPUINFO_CASES=${BINDING_CASES};PYTHONPATH=${BINDINGS_DIR}/python/src;PYTHONDONTWRITEBYTECODE=1")

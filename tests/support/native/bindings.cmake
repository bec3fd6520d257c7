# The Python and .NET bindings, each with its real runtime on this machine,
# against the library's source built as a Linux shared library on the
# in-memory Windows (binding_library.cpp). Test-only: never shipped.
#
# No sanitizers here: the library is loaded into python3 and mono, which are
# not built with them; the sanitizer builds above cover the same source.
set(BINDINGS_DIR ${REPO_ROOT}/bindings)
set(BINDING_CASES ${BINDINGS_DIR}/testdata/cases.json)

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

# Debian's python3, not whichever comes first on PATH.
find_program(BINDING_PYTHON python3 PATHS /usr/bin NO_DEFAULT_PATH REQUIRED)
add_test(NAME binding_python
  COMMAND ${BINDING_PYTHON} -m unittest -v test_binding
  WORKING_DIRECTORY ${BINDINGS_DIR}/python/tests)
set_tests_properties(binding_python PROPERTIES
  LABELS binding-python
  ENVIRONMENT "GPUINFO_STAND_IN=$<TARGET_FILE:binding_stand_in>;GPUINFO_CASES=${BINDING_CASES};PYTHONPATH=${BINDINGS_DIR}/python/src;PYTHONDONTWRITEBYTECODE=1")

# The .NET binding compiled with mono's C# compiler, and its test program, in
# one folder with a copy of the stand-in beside them (the binding's default
# place for the library).
find_program(BINDING_MCS mcs)
find_program(BINDING_MONO mono)
if(NOT BINDING_MCS OR NOT BINDING_MONO)
  # Still registered: without mono (scripts/setup.sh installs it) it fails and says why.
  message(WARNING "mcs or mono not found: the .NET binding test will fail")
  set(BINDING_MCS mcs)
  set(BINDING_MONO mono)
endif()
set(dotnet_dir ${CMAKE_CURRENT_BINARY_DIR}/dotnet)
file(GLOB dotnet_sources CONFIGURE_DEPENDS ${BINDINGS_DIR}/dotnet/src/*.cs)
set(dotnet_tests ${BINDINGS_DIR}/dotnet/tests/GpuInfoTests.cs)
set(mcs_flags -warnaserror+ -warn:4 -r:System.Runtime.Serialization.dll)
add_custom_command(OUTPUT ${dotnet_dir}/GpuInfoTests.exe
  COMMAND ${CMAKE_COMMAND} -E make_directory ${dotnet_dir}
  COMMAND ${BINDING_MCS} ${mcs_flags} -target:library -out:${dotnet_dir}/Quillmar.GpuInfo.dll ${dotnet_sources}
  COMMAND ${BINDING_MCS} ${mcs_flags} -r:${dotnet_dir}/Quillmar.GpuInfo.dll -out:${dotnet_dir}/GpuInfoTests.exe
          ${dotnet_tests}
  COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:binding_stand_in> ${dotnet_dir}
  DEPENDS ${dotnet_sources} ${dotnet_tests} binding_stand_in
  COMMENT "Building the .NET binding and its tests with mcs"
  VERBATIM)
add_custom_target(binding_dotnet_tests ALL DEPENDS ${dotnet_dir}/GpuInfoTests.exe)
add_test(NAME binding_dotnet
  COMMAND ${BINDING_MONO} ${dotnet_dir}/GpuInfoTests.exe
  WORKING_DIRECTORY ${dotnet_dir})
set_tests_properties(binding_dotnet PROPERTIES
  LABELS binding-dotnet
  ENVIRONMENT "GPUINFO_STAND_IN=$<TARGET_FILE:binding_stand_in>;GPUINFO_CASES=${BINDING_CASES}")

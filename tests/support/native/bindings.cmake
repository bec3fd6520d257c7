# The Python and .NET bindings, each with its real runtime on this machine,
# against the library's source built as a Linux shared library on the
# in-memory Windows (binding_library.cpp). Test-only: never shipped.
#
# No sanitizers here: the library is loaded into python3 and dotnet, which are
# not built with them; the sanitizer builds above cover the same source.
set(BINDINGS_DIR ${REPO_ROOT}/bindings)
set(BINDING_CASES ${BINDINGS_DIR}/testdata/cases.json)

include(${CMAKE_CURRENT_LIST_DIR}/stand_in.cmake)

# Debian's python3, not whichever comes first on PATH.
gpuinfo_find_program(BINDING_PYTHON python3 PATHS /usr/bin NO_DEFAULT_PATH REQUIRED)
add_test(NAME binding_python
  COMMAND ${BINDING_PYTHON} -m unittest -v test_binding
  WORKING_DIRECTORY ${BINDINGS_DIR}/python/tests)
set_tests_properties(binding_python PROPERTIES
  LABELS binding-python
  ENVIRONMENT "GPUINFO_STAND_IN=$<TARGET_FILE:binding_stand_in>;GPUINFO_CASES=${BINDING_CASES};PYTHONPATH=${BINDINGS_DIR}/python/src;PYTHONDONTWRITEBYTECODE=1")

# The package's annotations and a small client of it under Debian's mypy
# --strict (its cache in the build tree).
gpuinfo_find_program(BINDING_MYPY mypy PATHS /usr/bin NO_DEFAULT_PATH)
if(NOT BINDING_MYPY)
  # Still registered: without mypy (scripts/setup.sh installs it) it fails and says why.
  message(WARNING "mypy not found: the Python binding's type check will fail")
  set(BINDING_MYPY mypy)
endif()
add_test(NAME binding_python_mypy
  COMMAND ${BINDING_MYPY} --strict --cache-dir ${CMAKE_CURRENT_BINARY_DIR}/mypy-cache
          ${BINDINGS_DIR}/python/src/quillmar_gpuinfo ${BINDINGS_DIR}/python/tests/typed_client.py)
set_tests_properties(binding_python_mypy PROPERTIES
  LABELS binding-python
  ENVIRONMENT "MYPYPATH=${BINDINGS_DIR}/python/src")

# The .NET binding built by the .NET SDK, and its xunit tests run by dotnet
# test on this runtime; restored once into a packages folder of the build
# tree, offline after that. The binding's builds for both target frameworks
# are checked too (version, references, documentation).
gpuinfo_find_program(BINDING_DOTNET dotnet)
if(NOT BINDING_DOTNET)
  # Still registered: without the .NET SDK it fails and says why.
  message(WARNING "dotnet not found: the .NET binding test will fail")
  set(BINDING_DOTNET dotnet)
endif()
set(GPUINFO_NUGET_PACKAGES ${CMAKE_BINARY_DIR}/nuget-packages CACHE PATH
  "NuGet packages folder for the .NET binding's builds")
set(dotnet_dir ${CMAKE_CURRENT_BINARY_DIR}/dotnet)
set(dotnet_config Release)
set(dotnet_env ${CMAKE_COMMAND} -E env NUGET_PACKAGES=${GPUINFO_NUGET_PACKAGES} DOTNET_CLI_TELEMETRY_OPTOUT=1
  DOTNET_NOLOGO=1 DOTNET_SKIP_FIRST_TIME_EXPERIENCE=1)
set(dotnet_flags --artifacts-path ${dotnet_dir} -c ${dotnet_config} --disable-build-servers -nologo -v:q)
file(GLOB_RECURSE dotnet_sources CONFIGURE_DEPENDS
  ${BINDINGS_DIR}/dotnet/src/*.cs ${BINDINGS_DIR}/dotnet/tests/shared/*.cs
  ${BINDINGS_DIR}/dotnet/tests/Quillmar.GpuInfo.Tests/*.cs ${BINDINGS_DIR}/dotnet/*.csproj
  ${BINDINGS_DIR}/dotnet/tests/Quillmar.GpuInfo.Tests/*.csproj)
set(dotnet_tests_dll ${dotnet_dir}/bin/Quillmar.GpuInfo.Tests/release/Quillmar.GpuInfo.Tests.dll)
add_custom_command(OUTPUT ${dotnet_tests_dll}
  COMMAND ${dotnet_env} ${BINDING_DOTNET} build ${BINDINGS_DIR}/dotnet/Quillmar.GpuInfo.csproj ${dotnet_flags}
  COMMAND ${dotnet_env} ${BINDING_DOTNET} build
          ${BINDINGS_DIR}/dotnet/tests/Quillmar.GpuInfo.Tests/Quillmar.GpuInfo.Tests.csproj ${dotnet_flags}
  COMMAND ${CMAKE_COMMAND} -E touch ${dotnet_tests_dll}
  DEPENDS ${dotnet_sources}
  COMMENT "Building the .NET binding and its tests with the .NET SDK"
  VERBATIM)
add_custom_target(binding_dotnet_tests ALL DEPENDS ${dotnet_tests_dll})
add_test(NAME binding_dotnet
  COMMAND ${dotnet_env} ${BINDING_DOTNET} test ${dotnet_tests_dll} --logger "console$<SEMICOLON>verbosity=detailed")
set_tests_properties(binding_dotnet PROPERTIES
  LABELS binding-dotnet
  FAIL_REGULAR_EXPRESSION "Total tests: 0$|No test is available"
  ENVIRONMENT "GPUINFO_STAND_IN=$<TARGET_FILE:binding_stand_in>;GPUINFO_CASES=${BINDING_CASES};GPUINFO_ASSEMBLIES=${dotnet_dir}/bin/Quillmar.GpuInfo")

# Registers the Windows test programs against a chosen dxgi.dll. Under Wine
# (the cross-compiling emulator) three private prefixes live in the build
# tree, made once by a fixture:
#   prefix           a plain prefix: system32\dxgi.dll is Wine's own
#   prefix-double    system32\dxgi.dll is the test double
#   prefix-no-entry  system32\dxgi.dll lacks CreateDXGIFactory
# On Windows itself the programs run directly, and only the tests that need
# no change to the system directory are enabled.
set(GPUINFO_UNDER_WINE OFF)
if(CMAKE_CROSSCOMPILING AND CMAKE_CROSSCOMPILING_EMULATOR)
  set(GPUINFO_UNDER_WINE ON)
  set(WINE_TEST_PREFIX ${CMAKE_BINARY_DIR}/wine/prefix)
  set(WINE_TEST_PREFIX_DOUBLE ${CMAKE_BINARY_DIR}/wine/prefix-double)
  set(WINE_TEST_PREFIX_NO_ENTRY ${CMAKE_BINARY_DIR}/wine/prefix-no-entry)
  find_program(WINESERVER_PROGRAM wineserver PATHS /usr/lib/wine)

  add_test(NAME wine_prefix
    COMMAND ${CMAKE_COMMAND} -DPREFIX=${WINE_TEST_PREFIX} -P ${PROJECT_SOURCE_DIR}/cmake/WinePrefix.cmake)
  add_test(NAME wine_prefix_double
    COMMAND ${CMAKE_COMMAND} -DPREFIX=${WINE_TEST_PREFIX_DOUBLE} -DDXGI=$<TARGET_FILE:fake_dxgi>
            -P ${PROJECT_SOURCE_DIR}/cmake/WinePrefix.cmake)
  add_test(NAME wine_prefix_no_entry
    COMMAND ${CMAKE_COMMAND} -DPREFIX=${WINE_TEST_PREFIX_NO_ENTRY} -DDXGI=$<TARGET_FILE:fake_dxgi_no_entry>
            -P ${PROJECT_SOURCE_DIR}/cmake/WinePrefix.cmake)
  set(stop "")
  foreach(prefix ${WINE_TEST_PREFIX} ${WINE_TEST_PREFIX_DOUBLE} ${WINE_TEST_PREFIX_NO_ENTRY})
    string(APPEND stop "WINEPREFIX=${prefix} ${WINESERVER_PROGRAM} -k; ")
  endforeach()
  add_test(NAME wine_stop COMMAND sh -c "${stop}true")
  set_tests_properties(wine_prefix wine_prefix_double wine_prefix_no_entry PROPERTIES FIXTURES_SETUP wine LABELS wine)
  set_tests_properties(wine_stop PROPERTIES FIXTURES_CLEANUP wine LABELS wine)
endif()

# gpuinfo_wine_test(<name> DXGI seam|wine|fake|missing|no_entry
#                   COMMAND <target or program> [args...]
#                   [ENVIRONMENT VAR=value...] [WORKING_DIRECTORY dir] [LABELS label...])
# seam:     the system's own dxgi.dll in system32; the program hands the
#           library the test double itself (tests/seam). Runs anywhere.
# wine:     the system's own DXGI, through the real system directory (Wine's
#           with the no3d renderer; on Windows, the machine's).
# fake:     the test double as system32\dxgi.dll, for hosts that can't use
#           the seam (a separate process, node.exe). Wine only.
# missing:  dxgi.dll can't be loaded at all. Wine only.
# no_entry: system32\dxgi.dll without CreateDXGIFactory. Wine only.
function(gpuinfo_wine_test name)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "DXGI;WORKING_DIRECTORY" "COMMAND;ENVIRONMENT;LABELS")
  if(NOT arg_DXGI MATCHES "^(seam|wine|fake|missing|no_entry)$")
    message(FATAL_ERROR "gpuinfo_wine_test(${name}): unknown DXGI '${arg_DXGI}'")
  endif()
  if(NOT arg_WORKING_DIRECTORY)
    set(arg_WORKING_DIRECTORY ${CMAKE_RUNTIME_OUTPUT_DIRECTORY})
  endif()
  add_test(NAME ${name} COMMAND ${arg_COMMAND} WORKING_DIRECTORY ${arg_WORKING_DIRECTORY})
  set(labels ${arg_LABELS} dxgi-${arg_DXGI})

  if(NOT GPUINFO_UNDER_WINE)
    if(NOT arg_DXGI MATCHES "^(seam|wine)$")
      # A test double in the system directory is for private Wine prefixes.
      set_tests_properties(${name} PROPERTIES DISABLED TRUE)
    endif()
    set_tests_properties(${name} PROPERTIES LABELS "${labels}" ENVIRONMENT "${arg_ENVIRONMENT}")
    return()
  endif()

  set(prefix ${WINE_TEST_PREFIX})
  set(overrides "")
  if(arg_DXGI STREQUAL "fake")
    set(prefix ${WINE_TEST_PREFIX_DOUBLE})
    set(overrides "dxgi=n")
  elseif(arg_DXGI STREQUAL "wine")
    list(APPEND arg_ENVIRONMENT "WINE_D3D_CONFIG=renderer=no3d")
  elseif(arg_DXGI STREQUAL "missing")
    set(overrides "dxgi=")
  elseif(arg_DXGI STREQUAL "no_entry")
    set(prefix ${WINE_TEST_PREFIX_NO_ENTRY})
    set(overrides "dxgi=n")
  endif()
  set_tests_properties(${name} PROPERTIES
    FIXTURES_REQUIRED wine
    RESOURCE_LOCK wine
    LABELS "wine;${labels}"
    ENVIRONMENT "WINEPREFIX=${prefix};WINEDEBUG=-all;WINEDLLOVERRIDES=${overrides};DISPLAY=;${arg_ENVIRONMENT}")
endfunction()

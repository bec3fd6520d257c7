# Registers Windows test programs that run under Wine against a chosen
# dxgi.dll. Two private prefixes live in the build tree: one whose system32
# holds the test double (Wine's own DXGI is still reachable there through a
# builtin override) and one whose dxgi.dll lacks CreateDXGIFactory.
set(WINE_TEST_PREFIX ${CMAKE_BINARY_DIR}/wine/prefix)
set(WINE_TEST_PREFIX_NO_ENTRY ${CMAKE_BINARY_DIR}/wine/prefix-no-entry)
find_program(WINESERVER_PROGRAM wineserver PATHS /usr/lib/wine)

add_test(NAME wine_prefix
  COMMAND ${CMAKE_COMMAND} -DPREFIX=${WINE_TEST_PREFIX} -DDXGI=$<TARGET_FILE:fake_dxgi>
          -P ${PROJECT_SOURCE_DIR}/cmake/WinePrefix.cmake)
add_test(NAME wine_prefix_no_entry
  COMMAND ${CMAKE_COMMAND} -DPREFIX=${WINE_TEST_PREFIX_NO_ENTRY} -DDXGI=$<TARGET_FILE:fake_dxgi_no_entry>
          -P ${PROJECT_SOURCE_DIR}/cmake/WinePrefix.cmake)
add_test(NAME wine_stop COMMAND sh -c "WINEPREFIX=${WINE_TEST_PREFIX} ${WINESERVER_PROGRAM} -k; WINEPREFIX=${WINE_TEST_PREFIX_NO_ENTRY} ${WINESERVER_PROGRAM} -k; true")
set_tests_properties(wine_prefix wine_prefix_no_entry PROPERTIES FIXTURES_SETUP wine)
set_tests_properties(wine_stop PROPERTIES FIXTURES_CLEANUP wine)

# gpuinfo_wine_test(<name> DXGI fake|wine|missing|no_entry COMMAND <target or program> [args...]
#                   [ENVIRONMENT VAR=value...] [WORKING_DIRECTORY dir])
# fake: the test double; wine: Wine's own DXGI with the no3d renderer;
# missing: dxgi.dll can't be loaded at all; no_entry: no CreateDXGIFactory.
function(gpuinfo_wine_test name)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "DXGI;WORKING_DIRECTORY" "COMMAND;ENVIRONMENT")
  set(prefix ${WINE_TEST_PREFIX})
  if(arg_DXGI STREQUAL "fake")
    set(overrides "dxgi=n")
  elseif(arg_DXGI STREQUAL "wine")
    set(overrides "dxgi=b")
    list(APPEND arg_ENVIRONMENT "WINE_D3D_CONFIG=renderer=no3d")
  elseif(arg_DXGI STREQUAL "missing")
    set(overrides "dxgi=")
  elseif(arg_DXGI STREQUAL "no_entry")
    set(overrides "dxgi=n")
    set(prefix ${WINE_TEST_PREFIX_NO_ENTRY})
  else()
    message(FATAL_ERROR "gpuinfo_wine_test(${name}): unknown DXGI '${arg_DXGI}'")
  endif()
  if(NOT arg_WORKING_DIRECTORY)
    set(arg_WORKING_DIRECTORY ${CMAKE_RUNTIME_OUTPUT_DIRECTORY})
  endif()
  add_test(NAME ${name} COMMAND ${arg_COMMAND} WORKING_DIRECTORY ${arg_WORKING_DIRECTORY})
  set_tests_properties(${name} PROPERTIES
    FIXTURES_REQUIRED wine
    RESOURCE_LOCK wine
    ENVIRONMENT "WINEPREFIX=${prefix};WINEDEBUG=-all;WINEDLLOVERRIDES=${overrides};DISPLAY=;${arg_ENVIRONMENT}")
endfunction()

# Registers the Windows test programs against a chosen dxgi.dll. Under Wine
# (the cross-compiling emulator) three private prefixes live in the build
# tree, each made once and started by a fixture of its own, so a part of the
# suite (ctest -L <label>) starts only the prefixes its tests use:
#   wine_prefix           a plain prefix: system32\dxgi.dll is Wine's own
#   wine_prefix_double    system32\dxgi.dll is the test double
#   wine_prefix_no_entry  system32\dxgi.dll lacks CreateDXGIFactory
# On Windows itself the programs run directly, and only the tests that need
# no change to the system directory are enabled.
#
# GPUINFO_TESTS_AS_WINDOWS_HOST registers the tests as on Windows itself
# while CTest still runs the programs through the emulator, in whatever
# prefix the environment names: scripts/windows_host.sh runs that set
# against the DXGI of several kinds of machine.
option(GPUINFO_TESTS_AS_WINDOWS_HOST
  "Register the tests as a Windows host does (no private prefixes); run them with scripts/windows_host.sh" OFF)
set(GPUINFO_UNDER_WINE OFF)
if(CMAKE_CROSSCOMPILING AND CMAKE_CROSSCOMPILING_EMULATOR AND NOT GPUINFO_TESTS_AS_WINDOWS_HOST)
  set(GPUINFO_UNDER_WINE ON)
  # A toolchain whose Wine lives elsewhere (aarch64 Wine in a chroot) names
  # the command that runs Wine's programs there.
  if(GPUINFO_WINE_RUNNER)
    set(WINESERVER_PROGRAM ${GPUINFO_WINE_RUNNER} wineserver)
    list(JOIN WINESERVER_PROGRAM " " WINESERVER_PROGRAM)
  else()
    gpuinfo_find_program(WINESERVER_PROGRAM wineserver PATHS /usr/lib/wine)
  endif()
  # One wine_stop for every prefix, made once all are known: it ends the
  # servers the fixtures started, after the last test that needs one.
  set_property(GLOBAL PROPERTY GPUINFO_WINE_PREFIXES "")
  cmake_language(DEFER DIRECTORY ${PROJECT_SOURCE_DIR} CALL gpuinfo_wine_stop)
endif()

# gpuinfo_wine_prefix(<fixture> <folder> [DXGI <dll>]): a private prefix in
# <folder>, made (once) and started by the test <fixture>, which is also the
# fixture the tests that use it require.
function(gpuinfo_wine_prefix fixture folder)
  cmake_parse_arguments(PARSE_ARGV 2 arg "" "DXGI" "")
  set(dxgi "")
  if(arg_DXGI)
    set(dxgi -DDXGI=${arg_DXGI})
  endif()
  add_test(NAME ${fixture}
    COMMAND ${CMAKE_COMMAND} -DPREFIX=${folder} ${dxgi} "-DRUNNER=${GPUINFO_WINE_RUNNER}"
            -P ${PROJECT_SOURCE_DIR}/cmake/WinePrefix.cmake)
  set_tests_properties(${fixture} PROPERTIES FIXTURES_SETUP ${fixture} RESOURCE_LOCK wine LABELS wine)
  set_property(GLOBAL APPEND PROPERTY GPUINFO_WINE_PREFIXES ${fixture} ${folder})
endfunction()

function(gpuinfo_wine_stop)
  get_property(prefixes GLOBAL PROPERTY GPUINFO_WINE_PREFIXES)
  set(stop "")
  set(fixtures "")
  while(prefixes)
    list(POP_FRONT prefixes fixture folder)
    list(APPEND fixtures ${fixture})
    string(APPEND stop "WINEPREFIX=${folder} ${WINESERVER_PROGRAM} -k 2>/dev/null; ")
  endwhile()
  add_test(NAME wine_stop COMMAND sh -c "${stop}true")
  set_tests_properties(wine_stop PROPERTIES FIXTURES_CLEANUP "${fixtures}" LABELS wine)
endfunction()

if(GPUINFO_UNDER_WINE)
  set(WINE_TEST_PREFIX ${CMAKE_BINARY_DIR}/wine/prefix)
  set(WINE_TEST_PREFIX_DOUBLE ${CMAKE_BINARY_DIR}/wine/prefix-double)
  set(WINE_TEST_PREFIX_NO_ENTRY ${CMAKE_BINARY_DIR}/wine/prefix-no-entry)
  gpuinfo_wine_prefix(wine_prefix ${WINE_TEST_PREFIX})
  gpuinfo_wine_prefix(wine_prefix_double ${WINE_TEST_PREFIX_DOUBLE} DXGI $<TARGET_FILE:fake_dxgi>)
  gpuinfo_wine_prefix(wine_prefix_no_entry ${WINE_TEST_PREFIX_NO_ENTRY} DXGI $<TARGET_FILE:fake_dxgi_no_entry>)
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
  set(fixture wine_prefix)
  set(overrides "")
  if(arg_DXGI STREQUAL "fake")
    set(prefix ${WINE_TEST_PREFIX_DOUBLE})
    set(fixture wine_prefix_double)
    set(overrides "dxgi=n")
  elseif(arg_DXGI STREQUAL "wine")
    list(APPEND arg_ENVIRONMENT "WINE_D3D_CONFIG=renderer=no3d")
  elseif(arg_DXGI STREQUAL "missing")
    set(overrides "dxgi=")
  elseif(arg_DXGI STREQUAL "no_entry")
    set(prefix ${WINE_TEST_PREFIX_NO_ENTRY})
    set(fixture wine_prefix_no_entry)
    set(overrides "dxgi=n")
  endif()
  set_tests_properties(${name} PROPERTIES
    FIXTURES_REQUIRED ${fixture}
    RESOURCE_LOCK wine
    LABELS "wine;${labels}"
    ENVIRONMENT "WINEPREFIX=${prefix};WINEDEBUG=-all;WINEDLLOVERRIDES=${overrides};DISPLAY=;${arg_ENVIRONMENT}")
endfunction()

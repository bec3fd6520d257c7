# cmake -DMODE=subdirectory|fetchcontent|package -DSOURCE=<library source>
#       -DBUILD=<consumer build dir> -DGENERATOR=<generator> -DTOOLCHAIN=<file>
#       -DPYTHON=<python> -DCHECK=<check_binary.py> [-DHARDENED=ON] -DMAKE_PROGRAM=<ninja>
#       [-DINSTALL_FROM=<library build dir>] [-DEMULATOR=<wine>]
#       [-DCONFIGS=Debug,Release] [-DC_COMPILER=<compiler, used when there is no toolchain file>]
#       -P RunConsumer.cmake
# Builds tests/embed/consumer from nothing the way MODE says, in every
# configuration of CONFIGS from one configure (a multi-config generator),
# and for each: runs it, checks the DLL imports KERNEL32 alone and its
# objects reference nothing else, and, for a Ninja build from source, that
# no compile or link line of the library carries warnings as errors or
# pedantic warnings, nor in Debug any optimisation. For "package", the
# library build is first installed into BUILD/prefix.
foreach(var MODE SOURCE BUILD GENERATOR TOOLCHAIN PYTHON CHECK)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "RunConsumer.cmake: ${var} is required")
  endif()
endforeach()
if(NOT CONFIGS)
  set(CONFIGS Debug,Release)
endif()
string(REPLACE "," ";" CONFIGS "${CONFIGS}")

function(run what)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${MODE}: ${what} failed (${rc}):\n${out}\n0 passed, 1 failed")
  endif()
  set(output "${out}" PARENT_SCOPE)
endfunction()

function(fail what)
  message(FATAL_ERROR "${MODE} ${config}: ${what}\n0 passed, 1 failed")
endfunction()

if(GENERATOR MATCHES "^Ninja")
  set(GENERATOR "Ninja Multi-Config")
elseif(NOT GENERATOR MATCHES "^Visual Studio|Multi-Config")
  message(FATAL_ERROR "RunConsumer.cmake needs Ninja or a multi-config generator, not ${GENERATOR}")
endif()

file(REMOVE_RECURSE ${BUILD})
# Ninja Multi-Config makes Debug, Release and RelWithDebInfo by default.
set(args -DGPUINFO_EMBED_MODE=${MODE})
if(TOOLCHAIN)
  list(APPEND args -DCMAKE_TOOLCHAIN_FILE=${TOOLCHAIN})
elseif(C_COMPILER)
  list(APPEND args -DCMAKE_C_COMPILER=${C_COMPILER})
endif()
if(MODE STREQUAL "package")
  run("cmake --install" ${CMAKE_COMMAND} --install ${INSTALL_FROM} --prefix ${BUILD}/prefix)
  list(APPEND args -DCMAKE_PREFIX_PATH=${BUILD}/prefix)
else()
  list(APPEND args -DGPUINFO_SOURCE=${SOURCE})
endif()
run("configuring the consumer" ${CMAKE_COMMAND} -S ${SOURCE}/tests/embed/consumer -B ${BUILD}/consumer
    -G ${GENERATOR} ${args})
string(REGEX MATCH "embedded targets: [^\n]*" embedded "${output}")
message("${MODE}: ${embedded}")

set(forbidden_always "-Werror|[-/]WX|-Wpedantic|-pedantic|--fatal-warnings")
set(forbidden_debug "${forbidden_always}|[-/]O[1-3sx]|[-/]Ot")
foreach(config IN LISTS CONFIGS)
  run("building ${config}" ${CMAKE_COMMAND} --build ${BUILD}/consumer --config ${config})
  include(${BUILD}/consumer/gpuinfo-${config}.cmake)

  file(GLOB_RECURSE apps ${BUILD}/consumer/${config}/app.exe ${BUILD}/consumer/app.exe)
  list(GET apps 0 app)
  get_filename_component(app_dir ${app} DIRECTORY)
  if(NOT EXISTS ${app_dir}/quillmar-dxgi-gpu-info.dll)
    fail("the DLL was not copied beside the program")
  endif()
  # Into a file, not a pipe: a wineserver started by this program keeps its
  # standard handles, and a pipe would then never reach its end.
  execute_process(COMMAND ${EMULATOR} ${app} RESULT_VARIABLE rc
    OUTPUT_FILE ${BUILD}/app-${config}.out ERROR_FILE ${BUILD}/app-${config}.err)
  file(READ ${BUILD}/app-${config}.out output)
  if(NOT rc EQUAL 0)
    file(READ ${BUILD}/app-${config}.err errors)
    fail("the program failed (${rc}):\n${output}${errors}")
  endif()
  if(NOT output MATCHES "^version 1\\.0\\.0\r?\n{\"adapters\":\\[{\"index\":0,[^\n]*\\]}\r?\nhardware adapters [0-9]+")
    fail("unexpected output\n${output}")
  endif()

  # A toolchain that gives the guard gives it to the embedded library too.
  set(hardened "")
  if(HARDENED)
    set(hardened --hardened)
  endif()
  execute_process(COMMAND ${PYTHON} ${CHECK} --imports-only ${hardened} --dll ${gpuinfo_dll} "--objects=${gpuinfo_objects}"
    RESULT_VARIABLE rc OUTPUT_VARIABLE output ERROR_VARIABLE output)
  if(NOT rc EQUAL 0)
    fail("the import and reference check failed:\n${output}")
  endif()
  string(REGEX MATCH "imports: [^\n]*" imports "${output}")

  # The library's own compile and link lines as the host's build runs them.
  if(NOT MODE STREQUAL "package" AND GENERATOR MATCHES "Ninja")
    run("listing the library's commands" ${MAKE_PROGRAM} -C ${BUILD}/consumer -f build-${config}.ninja
        -t commands gpuinfo)
    if(NOT output MATCHES "gpuinfo\\.cpp")
      fail("no compile line for gpuinfo.cpp among\n${output}")
    endif()
    if(config STREQUAL "Debug")
      set(forbidden "${forbidden_debug}")
    else()
      set(forbidden "${forbidden_always}")
    endif()
    if(output MATCHES "(^|[ \n\"])(${forbidden})([ \n\":=]|$)")
      fail("the library's build carries ${CMAKE_MATCH_2}:\n${output}")
    endif()
  endif()
  message("${MODE} ${config}: ran, ${imports}; no imposed flags")
endforeach()
message("1 passed, 0 failed")

# cmake -DMODE=subdirectory|fetchcontent|package -DSOURCE=<library source>
#       -DBUILD=<consumer build dir> -DGENERATOR=<generator> -DTOOLCHAIN=<file>
#       [-DINSTALL_FROM=<library build dir>] [-DEMULATOR=<wine>] [-DCONFIG=<type>]
#       [-DC_COMPILER=<compiler, used when there is no toolchain file>]
#       -P RunConsumer.cmake
# Builds tests/embed/consumer from nothing the way MODE says and runs it. For
# "package", the library build is first installed into BUILD/prefix.
foreach(var MODE SOURCE BUILD GENERATOR TOOLCHAIN)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "RunConsumer.cmake: ${var} is required")
  endif()
endforeach()
if(NOT CONFIG)
  set(CONFIG Release)
endif()

function(run what)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${what} failed (${rc}):\n${out}\n0 passed, 1 failed")
  endif()
  set(output "${out}" PARENT_SCOPE)
endfunction()

file(REMOVE_RECURSE ${BUILD})
set(args -DGPUINFO_EMBED_MODE=${MODE} -DCMAKE_BUILD_TYPE=${CONFIG})
if(TOOLCHAIN)
  list(APPEND args -DCMAKE_TOOLCHAIN_FILE=${TOOLCHAIN})
elseif(C_COMPILER)
  list(APPEND args -DCMAKE_C_COMPILER=${C_COMPILER})
endif()
if(MODE STREQUAL "package")
  run("cmake --install" ${CMAKE_COMMAND} --install ${INSTALL_FROM} --prefix ${BUILD}/prefix --config ${CONFIG})
  list(APPEND args -DCMAKE_PREFIX_PATH=${BUILD}/prefix)
else()
  list(APPEND args -DGPUINFO_SOURCE=${SOURCE})
endif()
run("configuring the consumer" ${CMAKE_COMMAND} -S ${SOURCE}/tests/embed/consumer -B ${BUILD}/consumer
    -G ${GENERATOR} ${args})
string(REGEX MATCH "embedded targets: [^\n]*" embedded "${output}")
message("${embedded}")
run("building the consumer" ${CMAKE_COMMAND} --build ${BUILD}/consumer --config ${CONFIG})

file(GLOB_RECURSE apps ${BUILD}/consumer/app.exe)
list(GET apps 0 app)
get_filename_component(app_dir ${app} DIRECTORY)
run("running the consumer" ${EMULATOR} ${app})
message("${output}")
if(NOT output MATCHES "^version 1\\.0\\.0\r?\n{\"adapters\":\\[{\"index\":0,[^\n]*\\]}\r?\nhardware adapters [0-9]+")
  message(FATAL_ERROR "unexpected output\n0 passed, 1 failed")
endif()
if(NOT EXISTS ${app_dir}/quillmar-dxgi-gpu-info.dll)
  message(FATAL_ERROR "the DLL was not copied beside the program\n0 passed, 1 failed")
endif()
message("1 passed, 0 failed")

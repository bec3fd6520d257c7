# Builds testdata/consumer as a module of its own in WORK that requires this
# module by its path through a replace directive, runs it for Windows x64
# under WINE (empty on Windows) with the DLL beside it, then for Linux, where
# every call must be ErrUnsupported. -D: GO GOCACHE GOPATH MODULE_DIR CONSUMER_SOURCE
# WORK DLL VERSION WINE
set(module github.com/quillmar/quillmar-dxgi-gpu-info/bindings/go)
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK})
file(COPY ${CONSUMER_SOURCE}/main.go DESTINATION ${WORK})
file(WRITE ${WORK}/go.mod "module example.com/consumer\n\ngo 1.19\n\nrequire ${module} v${VERSION}\n\nreplace ${module} => ${MODULE_DIR}\n")
set(env ${CMAKE_COMMAND} -E env CGO_ENABLED=0 GOPROXY=off GOFLAGS=-trimpath GOCACHE=${GOCACHE} GOPATH=${GOPATH})

# build(<out> [GOOS=.. GOARCH=..]): without a target, for this machine.
function(build out)
  execute_process(COMMAND ${env} ${ARGN} ${GO} build -o ${out} .
    WORKING_DIRECTORY ${WORK} RESULT_VARIABLE rc OUTPUT_VARIABLE output ERROR_VARIABLE output)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "go build ${ARGN} failed (${rc}):\n${output}")
  endif()
endfunction()

# Output through a file: under Wine a pipe stays open as long as the wineserver.
function(run out_file)
  execute_process(COMMAND ${ARGN} WORKING_DIRECTORY ${WORK} RESULT_VARIABLE rc
    OUTPUT_FILE ${WORK}/${out_file} ERROR_FILE ${WORK}/${out_file}.err)
  file(READ ${WORK}/${out_file} output)
  file(READ ${WORK}/${out_file}.err errors)
  message(STATUS "${ARGN} -> ${rc}\n${output}${errors}")
  set(rc ${rc} PARENT_SCOPE)
  set(output "${output}" PARENT_SCOPE)
endfunction()

build(consumer.exe GOOS=windows GOARCH=amd64)
file(COPY ${DLL} DESTINATION ${WORK})
run(windows.txt ${WINE} ${WORK}/consumer.exe)
if(NOT rc EQUAL 0 OR NOT output MATCHES "^library ${VERSION}, [1-9][0-9]* adapter\\(s\\)\n0 [^\n]+ software=(true|false)\n")
  message(FATAL_ERROR "the Windows consumer failed (${rc})")
endif()

# Linux gets the stub: built on any host, run where it is the host.
build(consumer-linux GOOS=linux GOARCH=amd64)
if(CMAKE_HOST_SYSTEM_NAME STREQUAL "Linux")
  run(linux.txt ${WORK}/consumer-linux)
  if(NOT rc EQUAL 3 OR NOT output MATCHES "^unsupported: ")
    message(FATAL_ERROR "on Linux the consumer must stop with ErrUnsupported (exit 3), not ${rc}")
  endif()
endif()

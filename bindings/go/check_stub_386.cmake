# 32-bit Windows gets the stub, not the syscall code written for x64: the
# file list of a windows/386 build says which half it takes, and go vet
# type-checks the package and its tests for that target.
# -D: GO GOCACHE GOPATH
set(env ${CMAKE_COMMAND} -E env CGO_ENABLED=0 GOPROXY=off GOCACHE=${GOCACHE} GOPATH=${GOPATH} GOOS=windows GOARCH=386)
execute_process(COMMAND ${env} ${GO} list -f "{{join .GoFiles \" \"}} {{join .TestGoFiles \" \"}}" .
  RESULT_VARIABLE rc OUTPUT_VARIABLE files ERROR_VARIABLE errors)
message(STATUS "windows/386 files: ${files}${errors}")
if(NOT rc EQUAL 0 OR NOT files MATCHES "gpuinfo_other[.]go" OR NOT files MATCHES "gpuinfo_other_test[.]go"
   OR files MATCHES "amd64")
  message(FATAL_ERROR "windows/386 must build gpuinfo_other.go and nothing of the amd64 half")
endif()
execute_process(COMMAND ${env} ${GO} vet . RESULT_VARIABLE rc OUTPUT_VARIABLE output ERROR_VARIABLE output)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "go vet for windows/386 failed:\n${output}")
endif()

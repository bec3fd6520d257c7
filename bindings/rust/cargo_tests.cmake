# cmake -DCARGO=<cargo> -DMANIFEST=<Cargo.toml> -DOUT=<folder> [-DTARGET=<triple>]
#       -P cargo_tests.cmake
# Builds the crate's test programs and examples (cargo test --no-run) and
# copies each to <folder>/<name>.exe: cargo names them <name>-<hash>.exe
# and says which is which only in its JSON messages. The environment (cargo
# home, target folder, PATH) comes from the caller.
set(target_args "")
if(TARGET)
  set(target_args --target ${TARGET})
endif()
execute_process(
  COMMAND ${CARGO} test --no-run --features test-hooks --manifest-path ${MANIFEST} ${target_args}
          --message-format=json-render-diagnostics
  OUTPUT_VARIABLE messages
  RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "cargo test --no-run failed (${status})")
endif()

file(MAKE_DIRECTORY ${OUT})
string(REPLACE "\n" ";" messages "${messages}")
set(copied "")
foreach(line IN LISTS messages)
  if(NOT line MATCHES "\"reason\":\"compiler-artifact\"")
    continue()
  endif()
  string(JSON exe ERROR_VARIABLE no_exe GET "${line}" executable)
  if(no_exe OR exe STREQUAL "" OR exe STREQUAL "null")
    continue()  # a library, not a program
  endif()
  file(TO_CMAKE_PATH "${exe}" exe)  # cargo gives C:\ paths on Windows
  string(JSON name GET "${line}" target name)
  file(COPY_FILE ${exe} ${OUT}/${name}.exe ONLY_IF_DIFFERENT)
  list(APPEND copied ${name})
endforeach()
if(NOT copied)
  message(FATAL_ERROR "cargo built no test program")
endif()
list(JOIN copied ", " copied)
message(STATUS "Rust test programs: ${copied}")

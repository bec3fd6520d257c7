# The report reader (include/gpuinfo_report.h) in the native sanitizer build:
# its table test, compiled as C++ and as C, and a libFuzzer target that
# compares it with nlohmann::json, with a replay of its seed corpus. Included
# by the native build's CMakeLists.txt, whose native_flags it uses.

# The C build of the header, by the clang that builds the rest.
if(NOT CMAKE_C_COMPILER)
  string(REPLACE "clang++" "clang" CMAKE_C_COMPILER "${CMAKE_CXX_COMPILER}")
endif()
enable_language(C)

find_package(nlohmann_json 3 REQUIRED)

# The project's strict warnings besides the sanitizers' own set.
add_library(reader_flags INTERFACE)
target_link_libraries(reader_flags INTERFACE native_flags nlohmann_json::nlohmann_json)
target_compile_options(reader_flags INTERFACE
  -Wshadow -Wconversion -Wsign-conversion -Wcast-qual -Wformat=2 -Wundef -Wmissing-declarations)
target_include_directories(reader_flags INTERFACE ${CMAKE_CURRENT_LIST_DIR})

add_executable(reader_tests ${CMAKE_CURRENT_LIST_DIR}/test_reader.cpp ${CMAKE_CURRENT_LIST_DIR}/reader_in_c.c)
set_target_properties(reader_tests PROPERTIES C_STANDARD 99 C_STANDARD_REQUIRED ON C_EXTENSIONS OFF)
target_link_libraries(reader_tests PRIVATE reader_flags GTest::gtest_main)
target_compile_definitions(reader_tests PRIVATE CASES_JSON="${REPO_ROOT}/bindings/testdata/cases.json")
# One test for the tables (gtest_discover_tests would flatten the list of
# sanitizer options and labels it is given into one list of properties).
add_test(NAME reader_tables COMMAND reader_tests)
set_tests_properties(reader_tables PROPERTIES ENVIRONMENT "${SANITIZER_ENV}" LABELS "native;reader")

add_executable(fuzz_reader ${CMAKE_CURRENT_LIST_DIR}/fuzz_reader.cpp)
target_link_libraries(fuzz_reader PRIVATE reader_flags)
target_compile_options(fuzz_reader PRIVATE ${FUZZER_COMPILE_OPTIONS})
target_link_options(fuzz_reader PRIVATE -fsanitize=fuzzer)

add_executable(fuzz_reader_runner ${CMAKE_CURRENT_LIST_DIR}/fuzz_reader.cpp ${CMAKE_CURRENT_SOURCE_DIR}/fuzz_runner.cpp)
target_link_libraries(fuzz_reader_runner PRIVATE reader_flags)
add_test(NAME reader_corpus_replay COMMAND fuzz_reader_runner ${CMAKE_CURRENT_LIST_DIR}/corpus)
set_tests_properties(reader_corpus_replay PROPERTIES ENVIRONMENT "${SANITIZER_ENV}" LABELS "native;reader")

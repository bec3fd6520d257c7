# cmake -DSOURCE=<bindings/rust> -P check_readme.cmake
# The README's example is examples/adapters.rs, which the tests run, less its
# opening comment: the two must not drift apart.
file(READ ${SOURCE}/README.md readme)
file(READ ${SOURCE}/examples/adapters.rs example)
string(REGEX MATCH "```rust,no_run\n([^`]*)```" _ "${readme}")
set(shown "${CMAKE_MATCH_1}")
string(REGEX REPLACE "^(//![^\n]*\n)+\n" "" example "${example}")
if(shown STREQUAL "")
  message(FATAL_ERROR "README.md shows no example")
endif()
if(NOT shown STREQUAL example)
  message(FATAL_ERROR "README.md's example is not examples/adapters.rs:\n${shown}\n---\n${example}")
endif()
message(STATUS "README.md shows examples/adapters.rs")

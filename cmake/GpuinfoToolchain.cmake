# What the build needs to know about the compiler and linker in use, and the
# flags that follow from it. Front ends, not compilers, decide the flags:
# GCC and clang take GNU-style options, cl and clang-cl MSVC-style ones.

include(${CMAKE_CURRENT_LIST_DIR}/GpuinfoProbe.cmake)

# The target architecture: x64 or arm64 (64-bit ARM Windows).
if(CMAKE_SYSTEM_PROCESSOR MATCHES "^(ARM64|arm64|aarch64)$")
  set(GPUINFO_ARCH arm64)
else()
  set(GPUINFO_ARCH x64)
endif()

if(MSVC)
  set(GPUINFO_FRONT_END MSVC)
  # cl has no inline assembly on x64 or ARM64: the guard's dispatch stub is
  # MASM on x64 (ml64, or llvm-ml for clang-cl) and armasm64 on ARM64 for
  # cl itself (CMake 3.26 or later). LLVM has no armasm64: clang-cl on ARM64
  # takes the stub's inline assembly instead.
  if(GPUINFO_ARCH STREQUAL "x64")
    enable_language(ASM_MASM)
  elseif(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    enable_language(ASM_MARMASM)
  endif()
else()
  set(GPUINFO_FRONT_END GNU)
endif()

# gpuinfo_strict_warnings(<target> PRIVATE|INTERFACE): this project's own
# warning list, for its own build (never a host's), as errors when
# GPUINFO_WERROR is on.
function(gpuinfo_strict_warnings target scope)
  if(GPUINFO_FRONT_END STREQUAL "MSVC")
    target_compile_options(${target} ${scope} "$<$<COMPILE_LANGUAGE:C,CXX>:/W4;$<$<BOOL:${GPUINFO_WERROR}>:/WX>>")
  else()
    target_compile_options(${target} ${scope}
      -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wsign-conversion -Wcast-qual
      -Wformat=2 -Wundef -Wmissing-declarations $<$<BOOL:${GPUINFO_WERROR}>:-Werror>)
  endif()
endfunction()

# gpuinfo_no_link_time_stamp(<target> PRIVATE|INTERFACE): the same bytes on
# every link. Microsoft's linker has no fixed stamp: /Brepro writes a hash.
function(gpuinfo_no_link_time_stamp target scope)
  if(GPUINFO_FRONT_END STREQUAL "GNU")
    target_link_options(${target} ${scope} -Wl,--no-insert-timestamp)
    return()
  endif()
  gpuinfo_linker_is_lld(lld)
  if(lld)
    target_link_options(${target} ${scope} /timestamp:0)
  else()
    target_link_options(${target} ${scope} /Brepro)
  endif()
endfunction()

# Whether the linker is lld (lld-link, or ld.lld behind a GNU-style driver):
# it takes a fixed zero time stamp where Microsoft's link needs /Brepro.
# Asking the linker itself is the one test that holds for every way of
# naming it.
function(gpuinfo_linker_is_lld out)
  if(DEFINED CACHE{GPUINFO_LINKER_IS_LLD})
    set(${out} ${GPUINFO_LINKER_IS_LLD} PARENT_SCOPE)
    return()
  endif()
  if(GPUINFO_FRONT_END STREQUAL "MSVC")
    set(probe ${CMAKE_LINKER} --version)
  else()
    separate_arguments(flags NATIVE_COMMAND "${CMAKE_SHARED_LINKER_FLAGS}")
    set(probe ${CMAKE_CXX_COMPILER})
    if(CMAKE_CXX_COMPILER_TARGET)
      list(APPEND probe --target=${CMAKE_CXX_COMPILER_TARGET})
    endif()
    list(APPEND probe ${flags} -Wl,--version)
  endif()
  execute_process(COMMAND ${probe} OUTPUT_VARIABLE text ERROR_VARIABLE text RESULT_VARIABLE rc)
  if(text MATCHES "LLD [0-9]")
    set(is_lld ON)
  else()
    set(is_lld OFF)
  endif()
  set(GPUINFO_LINKER_IS_LLD ${is_lld} CACHE BOOL "The linker is lld (found by asking it)")
  message(STATUS "quillmar-dxgi-gpu-info: linker is lld: ${is_lld}")
  set(${out} ${is_lld} PARENT_SCOPE)
endfunction()

# Import libraries made from a .def, for the other ABI's users.
gpuinfo_find_program(GPUINFO_DLLTOOL NAMES llvm-dlltool-19 llvm-dlltool HINTS ${CMAKE_DLLTOOL})

# gpuinfo_no_runtime_calls(<out-var>): the options the library source is
# compiled with wherever it is built (the DLL, and the native tests and
# benchmarks of the same source, so what they measure is what ships). The
# DLL links no C runtime: its copy and length loops must stay loops, and
# GCC's loop distribution or clang's loop idiom pass would make memcpy,
# memset or strlen calls of them.
function(gpuinfo_no_runtime_calls out)
  set(flags "")
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    set(flags -fno-tree-loop-distribute-patterns)
  elseif(CMAKE_CXX_COMPILER_ID STREQUAL "Clang" AND GPUINFO_FRONT_END STREQUAL "MSVC")
    set(flags /Oi-)
  elseif(CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    set(flags -fno-builtin)
  endif()
  set(${out} ${flags} PARENT_SCOPE)
endfunction()

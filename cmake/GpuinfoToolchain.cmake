# What the build needs to know about the compiler and linker in use, and the
# flags that follow from it. Front ends, not compilers, decide the flags:
# GCC and clang take GNU-style options, cl and clang-cl MSVC-style ones.

if(MSVC)
  set(GPUINFO_FRONT_END MSVC)
else()
  set(GPUINFO_FRONT_END GNU)
endif()

# gpuinfo_strict_warnings(<target> PRIVATE|INTERFACE): one strict warning
# list, as errors, for the DLL and (through an interface target) everything
# else built here.
function(gpuinfo_strict_warnings target scope)
  if(GPUINFO_FRONT_END STREQUAL "MSVC")
    target_compile_options(${target} ${scope} /W4 /WX)
  else()
    target_compile_options(${target} ${scope}
      -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wsign-conversion -Wcast-qual
      -Wformat=2 -Wundef -Wmissing-declarations -Werror)
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

# lld (lld-link, or ld.lld behind a GNU-style driver) up to at least version
# 14 writes the export directory with ordinal base 0 and an empty slot 0,
# whatever the module-definition file says. Asking the linker itself is the
# one test that holds for every way of naming it.
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

# Import libraries made from a .def: for lld, and for the other ABI's users.
find_program(GPUINFO_DLLTOOL NAMES llvm-dlltool-14 llvm-dlltool HINTS ${CMAKE_DLLTOOL})

# gpuinfo_export_table(<def file> <output source>): writes a source file whose
# only content is the module's export directory as the .def describes it
# (ordinal base 1, names in ordinal order, which the .def keeps sorted), for
# linkers that can't be told the base. lld takes a literal .edata section
# from its input in place of the table it would make itself.
function(gpuinfo_export_table def out)
  file(STRINGS ${def} lines)
  set(module "")
  set(names "")
  set(expected 1)
  foreach(line IN LISTS lines)
    if(line MATCHES "^LIBRARY[ \t]+\"?([^\" \t]+)\"?")
      set(module ${CMAKE_MATCH_1})
    elseif(line MATCHES "^[ \t]+([A-Za-z_][A-Za-z0-9_]*)[ \t]+@([0-9]+)[ \t]*$")
      if(NOT CMAKE_MATCH_2 EQUAL expected)
        message(FATAL_ERROR "${def}: ${CMAKE_MATCH_1} has ordinal @${CMAKE_MATCH_2}; ordinals must run 1, 2, 3... in order")
      endif()
      list(APPEND names ${CMAKE_MATCH_1})
      math(EXPR expected "${expected} + 1")
    endif()
  endforeach()
  set(sorted ${names})
  list(SORT sorted)
  if(NOT module OR NOT names OR NOT sorted STREQUAL names)
    message(FATAL_ERROR "${def}: expected LIBRARY and exports sorted by name with ordinals 1, 2, 3...")
  endif()
  list(LENGTH names count)

  # IMAGE_EXPORT_DIRECTORY, then the address, name and ordinal tables and
  # the strings; .rva has the linker fill in image-relative addresses.
  set(asm
    ".section .edata,\\\"dr\\\""
    ".p2align 2"
    ".long 0, 0              # Characteristics, TimeDateStamp"
    ".short 0, 0             # MajorVersion, MinorVersion"
    ".rva .Lgpuinfo_module   # Name"
    ".long 1                 # Base"
    ".long ${count}, ${count}              # NumberOfFunctions, NumberOfNames"
    ".rva .Lgpuinfo_functions, .Lgpuinfo_names, .Lgpuinfo_ordinals"
    ".Lgpuinfo_functions:")
  foreach(name IN LISTS names)
    list(APPEND asm ".rva ${name}")
  endforeach()
  list(APPEND asm ".Lgpuinfo_names:")
  set(i 0)
  foreach(name IN LISTS names)
    list(APPEND asm ".rva .Lgpuinfo_name_${i}")
    math(EXPR i "${i} + 1")
  endforeach()
  list(APPEND asm ".Lgpuinfo_ordinals:")
  math(EXPR last "${count} - 1")
  foreach(i RANGE ${last})
    list(APPEND asm ".short ${i}")
  endforeach()
  list(APPEND asm ".Lgpuinfo_module: .asciz \\\"${module}\\\"")
  set(i 0)
  foreach(name IN LISTS names)
    list(APPEND asm ".Lgpuinfo_name_${i}: .asciz \\\"${name}\\\"")
    math(EXPR i "${i} + 1")
  endforeach()
  list(APPEND asm ".text")

  get_filename_component(def_name ${def} NAME)
  set(text "/* Made by the build from ${def_name}: the export directory of ${module},\n")
  string(APPEND text " * ordinal base 1. Edit ${def_name} instead. */\n__asm__(\n")
  foreach(line IN LISTS asm)
    string(APPEND text "    \"${line}\\n\"\n")
  endforeach()
  string(APPEND text ");\n")
  file(CONFIGURE OUTPUT ${out} CONTENT "${text}" @ONLY)
endfunction()

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

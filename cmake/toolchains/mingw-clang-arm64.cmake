# 64-bit ARM Windows with clang and lld for the windows-gnu target (as
# llvm-mingw's aarch64 toolchain). Debian has MinGW-w64's headers, which are
# the same for every architecture, but no aarch64 C runtime or import
# libraries: the DLL needs none of the first, and its KERNEL32 import
# library is made here (windows-arm64-libs.cmake). Programs that need a C
# runtime are built by the msvc-clang-arm64 preset, which brings its own
# start-up code; this one builds the DLL and checks it.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR aarch64)

find_program(CMAKE_C_COMPILER NAMES clang-19 REQUIRED)
find_program(CMAKE_CXX_COMPILER NAMES clang++-19 REQUIRED)
set(CMAKE_C_COMPILER_TARGET aarch64-w64-windows-gnu)
set(CMAKE_CXX_COMPILER_TARGET aarch64-w64-windows-gnu)
find_program(CMAKE_AR NAMES llvm-ar-19 REQUIRED)
find_program(CMAKE_RANLIB NAMES llvm-ranlib-19 REQUIRED)
find_program(CMAKE_RC_COMPILER NAMES llvm-windres-19)
find_program(CMAKE_DLLTOOL NAMES llvm-dlltool-19 REQUIRED)
find_program(MINGW_CLANG_LLD NAMES ld.lld-19 REQUIRED)

set(mingw_headers /usr/share/mingw-w64/include)
set(CMAKE_C_FLAGS_INIT "-isystem ${mingw_headers}")
set(CMAKE_CXX_FLAGS_INIT "-isystem ${mingw_headers}")
set(CMAKE_C_FLAGS_RELEASE "-O2 -DNDEBUG" CACHE STRING "")
set(CMAKE_CXX_FLAGS_RELEASE "-O2 -DNDEBUG" CACHE STRING "")

# Compiler checks compile without linking: there is no C runtime to link.
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)
set(WINDOWS_ARM64_LIBS ${CMAKE_BINARY_DIR}/arm64-libs)
set(WINDOWS_ARM64_DLLS kernel32)
if(NOT CMAKE_IN_TRY_COMPILE)
  include(${CMAKE_CURRENT_LIST_DIR}/windows-arm64-libs.cmake)
endif()
# Only what a target names: CMake's default list names libraries made
# for no ARM64 here.
set(CMAKE_C_STANDARD_LIBRARIES "" CACHE STRING "")
set(CMAKE_CXX_STANDARD_LIBRARIES "" CACHE STRING "")
foreach(kind EXE SHARED MODULE)
  set(CMAKE_${kind}_LINKER_FLAGS_INIT "-fuse-ld=lld --ld-path=${MINGW_CLANG_LLD} -L${WINDOWS_ARM64_LIBS}")
endforeach()

set(CMAKE_FIND_ROOT_PATH /usr/share/mingw-w64)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE BOTH)

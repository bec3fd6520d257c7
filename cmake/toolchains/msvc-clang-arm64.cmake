# 64-bit ARM Windows for the MSVC ABI with clang-cl and lld-link (LLVM 19),
# the ARM64 counterpart of msvc-clang.cmake: MinGW-w64's headers (the same
# for every architecture), import libraries made by llvm-dlltool and the
# stand-in start-up code (msvc-clang-sdk.cmake). Programs run under
# Debian's aarch64 Wine in an arm64 chroot through qemu
# (scripts/arm64_wine.sh, which must have set it up).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ARM64)

set(MINGW_ROOT /usr/share/mingw-w64)
find_program(CMAKE_C_COMPILER NAMES clang-cl-19 REQUIRED)
set(CMAKE_CXX_COMPILER ${CMAKE_C_COMPILER})
find_program(CMAKE_LINKER NAMES lld-link-19 REQUIRED)
find_program(CMAKE_AR NAMES llvm-lib-19 REQUIRED)
find_program(CMAKE_RC_COMPILER NAMES llvm-rc-19)
find_program(CMAKE_MT NAMES llvm-mt-19)
find_program(CMAKE_DLLTOOL NAMES llvm-dlltool-19 REQUIRED)

# As msvc-clang.cmake: /GS- and /Zl for the test programs' stand-in runtime;
# and msvcrt.dll's printf, since MinGW-w64's C99 one (libmingwex) exists for
# x64 alone.
set(MSVC_CLANG_TARGET aarch64-pc-windows-msvc)
set(msvc_clang_flags "--target=${MSVC_CLANG_TARGET} /clang:-fgnuc-version=4.2.1 -imsvc ${MINGW_ROOT}/include /GS- /Zl -D__USE_MINGW_ANSI_STDIO=0")
set(CMAKE_C_FLAGS_INIT "${msvc_clang_flags}")
set(CMAKE_CXX_FLAGS_INIT "${msvc_clang_flags}")

set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)
if(NOT MSVC_CLANG_SDK)
  set(MSVC_CLANG_SDK ${CMAKE_BINARY_DIR}/msvc-clang-sdk)
endif()
if(NOT CMAKE_IN_TRY_COMPILE)
  include(${CMAKE_CURRENT_LIST_DIR}/msvc-clang-sdk.cmake)
endif()

set(CMAKE_C_STANDARD_LIBRARIES "kernel32.lib user32.lib advapi32.lib shell32.lib ole32.lib oleaut32.lib msvcrt.lib msvcstartup.lib" CACHE STRING "")
set(CMAKE_CXX_STANDARD_LIBRARIES "${CMAKE_C_STANDARD_LIBRARIES}" CACHE STRING "")
foreach(kind EXE SHARED MODULE)
  set(CMAKE_${kind}_LINKER_FLAGS_INIT "/nodefaultlib /libpath:${MSVC_CLANG_SDK}")
endforeach()

set(CMAKE_FIND_ROOT_PATH ${MINGW_ROOT})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE BOTH)

# aarch64 Wine, run inside the chroot with this checkout at its own path.
get_filename_component(arm64_wine ${CMAKE_CURRENT_LIST_DIR}/../../scripts/arm64_wine.sh ABSOLUTE)
set(CMAKE_CROSSCOMPILING_EMULATOR ${arm64_wine} run wine)
set(GPUINFO_WINE_RUNNER ${arm64_wine} run)

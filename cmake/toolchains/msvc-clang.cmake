# 64-bit Windows for the MSVC ABI with clang-cl and lld-link (LLVM 19): the
# stand-in on Debian for Visual Studio's cl and link. There is no Windows SDK
# or Visual C++ runtime here: headers are MinGW-w64's, which work with clang
# in MSVC mode once clang says it is GCC-compatible (they would otherwise
# define __attribute__ away), and msvc-clang-sdk.cmake makes the libraries.
# Nothing in the project's own CMake files depends on this stand-in: with cl,
# link and the Windows SDK the same logic applies unchanged.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR AMD64)

set(MINGW_ROOT /usr/x86_64-w64-mingw32)
find_program(CMAKE_C_COMPILER NAMES clang-cl-19 REQUIRED)
set(CMAKE_CXX_COMPILER ${CMAKE_C_COMPILER})
find_program(CMAKE_LINKER NAMES lld-link-19 REQUIRED)
find_program(CMAKE_AR NAMES llvm-lib-19 REQUIRED)
find_program(CMAKE_RC_COMPILER NAMES llvm-rc-19)
find_program(CMAKE_MT NAMES llvm-mt-19)
find_program(CMAKE_DLLTOOL NAMES llvm-dlltool-19)
# ml64's stand-in: LLVM's MASM assembler, told the target as ml64 knows it.
find_program(CMAKE_ASM_MASM_COMPILER NAMES llvm-ml-19 REQUIRED)
set(CMAKE_ASM_MASM_FLAGS_INIT "-m64")

# /GS- because the test programs' stand-in runtime has no security cookie
# (the DLL turns /GS on for itself: its load configuration carries one); /Zl
# so objects name no Visual C++ library that would not exist.
set(MSVC_CLANG_TARGET x86_64-pc-windows-msvc)
set(msvc_clang_flags "--target=${MSVC_CLANG_TARGET} /clang:-fgnuc-version=4.2.1 -imsvc ${MINGW_ROOT}/include /GS- /Zl")
set(CMAKE_C_FLAGS_INIT "${msvc_clang_flags}")
set(CMAKE_CXX_FLAGS_INIT "${msvc_clang_flags}")

# Compiler checks compile without linking: the stand-in libraries are made
# for the project's own build folder.
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)
# A second build may share the first's (-DMSVC_CLANG_SDK=...), as two
# builds on one Windows machine share its SDK: the libraries' paths are
# recorded in a PDB.
if(NOT MSVC_CLANG_SDK)
  set(MSVC_CLANG_SDK ${CMAKE_BINARY_DIR}/msvc-clang-sdk)
endif()
if(NOT CMAKE_IN_TRY_COMPILE)
  include(${CMAKE_CURRENT_LIST_DIR}/msvc-clang-sdk.cmake)
endif()

# The C runtime and the start-up code come last on every program's link line.
set(CMAKE_C_STANDARD_LIBRARIES "kernel32.lib user32.lib advapi32.lib shell32.lib ole32.lib oleaut32.lib uuid.lib msvcrt.lib mingwex.lib msvcstartup.lib" CACHE STRING "")
set(CMAKE_CXX_STANDARD_LIBRARIES "${CMAKE_C_STANDARD_LIBRARIES}" CACHE STRING "")
foreach(kind EXE SHARED MODULE)
  set(CMAKE_${kind}_LINKER_FLAGS_INIT "/nodefaultlib /libpath:${MSVC_CLANG_SDK}")
endforeach()

set(CMAKE_FIND_ROOT_PATH ${MINGW_ROOT})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE BOTH)

find_program(WINE NAMES wine wine64)
set(CMAKE_CROSSCOMPILING_EMULATOR ${WINE})

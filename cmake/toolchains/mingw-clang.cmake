# 64-bit Windows with clang and lld for the windows-gnu target, against
# MinGW-w64's headers and libraries: what MSYS2's CLANG64 and llvm-mingw
# users build with. Cross-compiled on Debian; programs run under Wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(MINGW_TRIPLE x86_64-w64-mingw32)
find_program(CMAKE_C_COMPILER NAMES clang-19 REQUIRED)
find_program(CMAKE_CXX_COMPILER NAMES clang++-19 REQUIRED)
set(CMAKE_C_COMPILER_TARGET x86_64-w64-windows-gnu)
set(CMAKE_CXX_COMPILER_TARGET x86_64-w64-windows-gnu)
find_program(CMAKE_AR NAMES llvm-ar-19 REQUIRED)
find_program(CMAKE_RANLIB NAMES llvm-ranlib-19 REQUIRED)
find_program(CMAKE_RC_COMPILER NAMES ${MINGW_TRIPLE}-windres)
find_program(CMAKE_DLLTOOL NAMES llvm-dlltool-19 REQUIRED)
# Named by its path: Debian installs only versioned ld.lld-NN on the PATH, so
# a bare -fuse-ld=lld depends on which clang looks for it.
find_program(MINGW_CLANG_LLD NAMES ld.lld-19 REQUIRED)

# Debian's clang links with lld only when told, and finds MinGW-w64's libgcc
# only in GCC's own folder.
file(GLOB MINGW_GCC_LIBDIRS LIST_DIRECTORIES true /usr/lib/gcc/${MINGW_TRIPLE}/*-posix)
list(SORT MINGW_GCC_LIBDIRS COMPARE NATURAL ORDER DESCENDING)
list(GET MINGW_GCC_LIBDIRS 0 MINGW_GCC_LIBDIR)
foreach(kind EXE SHARED MODULE)
  set(CMAKE_${kind}_LINKER_FLAGS_INIT "-fuse-ld=lld --ld-path=${MINGW_CLANG_LLD} -L${MINGW_GCC_LIBDIR}")
endforeach()

# Release optimises with -O2 rather than CMake's -O3: a smaller DLL, with no
# difference the benchmarks can see.
set(CMAKE_C_FLAGS_RELEASE "-O2 -DNDEBUG" CACHE STRING "")
set(CMAKE_CXX_FLAGS_RELEASE "-O2 -DNDEBUG" CACHE STRING "")

set(CMAKE_FIND_ROOT_PATH /usr/${MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE BOTH)

find_program(WINE NAMES wine wine64)
set(CMAKE_CROSSCOMPILING_EMULATOR ${WINE})

# 64-bit Windows for the MSVC ABI with clang-cl and lld-link: the stand-in on
# Debian for Visual Studio's cl and link. There is no Windows SDK or Visual
# C++ runtime here, so this file provides what they would:
#  - headers: MinGW-w64's, which work with clang in MSVC mode once clang says
#    it is GCC-compatible (they would otherwise define __attribute__ away);
#  - import libraries: a folder of <name>.lib links to MinGW-w64's lib<name>.a,
#    so "kernel32.lib", "msvcrt.lib" and the rest resolve as they do with the
#    Windows SDK;
#  - start-up code: msvcstartup.lib, built from msvc-clang-startup.c, since
#    the MSVC runtime's start-up objects don't exist here. Programs use
#    msvcrt.dll as their C runtime.
# Nothing in the project's own CMake files depends on this stand-in: with cl,
# link and the Windows SDK the same presets logic applies unchanged.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR AMD64)

set(MINGW_ROOT /usr/x86_64-w64-mingw32)
find_program(CMAKE_C_COMPILER NAMES clang-cl-14 clang-cl REQUIRED)
set(CMAKE_CXX_COMPILER ${CMAKE_C_COMPILER})
find_program(CMAKE_LINKER NAMES lld-link-14 lld-link REQUIRED)
find_program(CMAKE_AR NAMES llvm-lib-14 llvm-lib REQUIRED)
find_program(CMAKE_RC_COMPILER NAMES llvm-rc-14 llvm-rc)
find_program(CMAKE_MT NAMES llvm-mt-14 llvm-mt)
find_program(CMAKE_DLLTOOL NAMES llvm-dlltool-14 llvm-dlltool)

# /GS- because no runtime start-up seeds the security cookie here; /Zl so
# objects name no Visual C++ library that would not exist.
set(msvc_clang_flags "--target=x86_64-pc-windows-msvc /clang:-fgnuc-version=4.2.1 -imsvc ${MINGW_ROOT}/include /GS- /Zl")
set(CMAKE_C_FLAGS_INIT "${msvc_clang_flags}")
set(CMAKE_CXX_FLAGS_INIT "${msvc_clang_flags}")

# Compiler checks compile without linking: the stand-in libraries below are
# made for the project's own build folder.
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)

set(msvc_clang_sdk ${CMAKE_BINARY_DIR}/msvc-clang-sdk)
if(NOT CMAKE_IN_TRY_COMPILE AND (NOT EXISTS ${msvc_clang_sdk}/msvcstartup.lib OR
   ${CMAKE_CURRENT_LIST_DIR}/msvc-clang-startup.c IS_NEWER_THAN ${msvc_clang_sdk}/msvcstartup.lib))
  file(MAKE_DIRECTORY ${msvc_clang_sdk})
  file(GLOB mingw_libs ${MINGW_ROOT}/lib/lib*.a)
  foreach(lib IN LISTS mingw_libs)
    get_filename_component(name ${lib} NAME)
    if(name MATCHES "^lib([^.]+)\\.a$")
      file(CREATE_LINK ${lib} ${msvc_clang_sdk}/${CMAKE_MATCH_1}.lib SYMBOLIC)
    endif()
  endforeach()
  set(startup_objects "")
  foreach(piece PROGRAM WPROGRAM DLL COMMON)
    set(object ${msvc_clang_sdk}/startup-${piece}.obj)
    execute_process(
      COMMAND ${CMAKE_C_COMPILER} --target=x86_64-pc-windows-msvc /nologo /c /O2 /GS- /Zl /DSTARTUP_${piece}
              /Fo${object} -- ${CMAKE_CURRENT_LIST_DIR}/msvc-clang-startup.c
      COMMAND_ERROR_IS_FATAL ANY)
    list(APPEND startup_objects ${object})
  endforeach()
  execute_process(
    COMMAND ${CMAKE_AR} /nologo /out:${msvc_clang_sdk}/msvcstartup.lib ${startup_objects}
    COMMAND_ERROR_IS_FATAL ANY)
endif()

# The C runtime and the start-up code come last on every link line.
set(CMAKE_C_STANDARD_LIBRARIES "kernel32.lib user32.lib advapi32.lib shell32.lib ole32.lib oleaut32.lib uuid.lib msvcrt.lib mingwex.lib msvcstartup.lib" CACHE STRING "")
set(CMAKE_CXX_STANDARD_LIBRARIES "${CMAKE_C_STANDARD_LIBRARIES}" CACHE STRING "")
foreach(kind EXE SHARED MODULE)
  set(CMAKE_${kind}_LINKER_FLAGS_INIT "/nodefaultlib /libpath:${msvc_clang_sdk}")
endforeach()

set(CMAKE_FIND_ROOT_PATH ${MINGW_ROOT})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE BOTH)


# The DLL's C runtime is then msvcrt.dll too (Visual C++ would give it
# VCRUNTIME140.dll and the UCRT), and the binary check allows just that.
set(GPUINFO_MSVC_RUNTIME_LIBS msvcrt.lib CACHE STRING "")
set(GPUINFO_CRT_DLLS msvcrt.dll CACHE STRING "")

find_program(WINE NAMES wine wine64)
set(CMAKE_CROSSCOMPILING_EMULATOR ${WINE})

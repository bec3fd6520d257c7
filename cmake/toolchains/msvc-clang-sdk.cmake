# The stand-in for the Windows SDK and the Visual C++ libraries that the
# msvc-clang toolchain links against, made once per build folder:
#  - import libraries: a folder of <name>.lib links to MinGW-w64's lib<name>.a,
#    so "kernel32.lib", "msvcrt.lib" and the rest resolve as they do with the
#    Windows SDK;
#  - start-up code: msvcstartup.lib, built from msvc-clang-startup.c, since
#    the MSVC runtime's start-up objects don't exist here. Programs use
#    msvcrt.dll as their C runtime.
# The stack probe in msvc-clang-startup.c is AT&T syntax, which clang-cl
# 19 no longer assumes for an MSVC target (-masm=att).
# For ARM64 (MSVC_CLANG_TARGET aarch64-...), for which Debian has no
# MinGW-w64 libraries, the import libraries are made by
# windows-arm64-libs.cmake instead, and dxguid.lib, the DirectX interface
# ids, is compiled from the headers.
# In:  MSVC_CLANG_SDK (the folder to fill), MSVC_CLANG_TARGET, MINGW_ROOT,
#      CMAKE_C_COMPILER, CMAKE_AR. Remade when msvc-clang-startup.c changes.
set(startup_source ${CMAKE_CURRENT_LIST_DIR}/msvc-clang-startup.c)
if(EXISTS ${MSVC_CLANG_SDK}/msvcstartup.lib AND NOT ${startup_source} IS_NEWER_THAN ${MSVC_CLANG_SDK}/msvcstartup.lib)
  return()
endif()

file(MAKE_DIRECTORY ${MSVC_CLANG_SDK})
set(compile ${CMAKE_C_COMPILER} --target=${MSVC_CLANG_TARGET} /nologo /c /O2 /GS- /Zl)
set(pieces PROGRAM WPROGRAM DLL COMMON)
if(MSVC_CLANG_TARGET MATCHES "^aarch64")
  list(APPEND pieces DLLMAIN)
  set(WINDOWS_ARM64_LIBS ${MSVC_CLANG_SDK})
  set(WINDOWS_ARM64_DLLS kernel32 msvcrt user32 advapi32 shell32 ole32 oleaut32)
  # msvc-clang-startup.c has them: one msvcrt.dll lacks, one that Wine's
  # aarch64 build can't take from a Windows program.
  set(WINDOWS_ARM64_NOT_EXPORTED __acrt_iob_func vprintf)
  include(${CMAKE_CURRENT_LIST_DIR}/windows-arm64-libs.cmake)
  file(WRITE ${MSVC_CLANG_SDK}/dxguid.c "#include <initguid.h>\n#include <dxgi.h>\n")
  execute_process(
    COMMAND ${compile} /clang:-fgnuc-version=4.2.1 -imsvc ${MINGW_ROOT}/include /Fo${MSVC_CLANG_SDK}/dxguid.obj
            -- ${MSVC_CLANG_SDK}/dxguid.c
    COMMAND_ERROR_IS_FATAL ANY)
  execute_process(
    COMMAND ${CMAKE_AR} /nologo /out:${MSVC_CLANG_SDK}/dxguid.lib ${MSVC_CLANG_SDK}/dxguid.obj
    COMMAND_ERROR_IS_FATAL ANY)
else()
  list(APPEND compile /clang:-masm=att)
  file(GLOB mingw_libs ${MINGW_ROOT}/lib/lib*.a)
  foreach(lib IN LISTS mingw_libs)
    get_filename_component(name ${lib} NAME)
    if(name MATCHES "^lib([^.]+)\\.a$")
      file(CREATE_LINK ${lib} ${MSVC_CLANG_SDK}/${CMAKE_MATCH_1}.lib SYMBOLIC)
    endif()
  endforeach()
endif()
set(startup_objects "")
foreach(piece IN LISTS pieces)
  set(object ${MSVC_CLANG_SDK}/startup-${piece}.obj)
  execute_process(
    COMMAND ${compile} /DSTARTUP_${piece} /Fo${object} -- ${startup_source}
    COMMAND_ERROR_IS_FATAL ANY)
  list(APPEND startup_objects ${object})
endforeach()
execute_process(
  COMMAND ${CMAKE_AR} /nologo /out:${MSVC_CLANG_SDK}/msvcstartup.lib ${startup_objects}
  COMMAND_ERROR_IS_FATAL ANY)

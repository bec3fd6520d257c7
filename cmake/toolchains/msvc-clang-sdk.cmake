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
# In:  MSVC_CLANG_SDK (the folder to fill), MINGW_ROOT, CMAKE_C_COMPILER,
#      CMAKE_AR. Remade when msvc-clang-startup.c changes.
set(startup_source ${CMAKE_CURRENT_LIST_DIR}/msvc-clang-startup.c)
if(EXISTS ${MSVC_CLANG_SDK}/msvcstartup.lib AND NOT ${startup_source} IS_NEWER_THAN ${MSVC_CLANG_SDK}/msvcstartup.lib)
  return()
endif()

file(MAKE_DIRECTORY ${MSVC_CLANG_SDK})
file(GLOB mingw_libs ${MINGW_ROOT}/lib/lib*.a)
foreach(lib IN LISTS mingw_libs)
  get_filename_component(name ${lib} NAME)
  if(name MATCHES "^lib([^.]+)\\.a$")
    file(CREATE_LINK ${lib} ${MSVC_CLANG_SDK}/${CMAKE_MATCH_1}.lib SYMBOLIC)
  endif()
endforeach()
set(startup_objects "")
foreach(piece PROGRAM WPROGRAM DLL COMMON)
  set(object ${MSVC_CLANG_SDK}/startup-${piece}.obj)
  execute_process(
    COMMAND ${CMAKE_C_COMPILER} --target=x86_64-pc-windows-msvc /nologo /c /O2 /GS- /Zl /clang:-masm=att /DSTARTUP_${piece}
            /Fo${object} -- ${startup_source}
    COMMAND_ERROR_IS_FATAL ANY)
  list(APPEND startup_objects ${object})
endforeach()
execute_process(
  COMMAND ${CMAKE_AR} /nologo /out:${MSVC_CLANG_SDK}/msvcstartup.lib ${startup_objects}
  COMMAND_ERROR_IS_FATAL ANY)

# Import libraries for 64-bit ARM Windows, which Debian does not ship (it
# has no aarch64 MinGW-w64 C runtime or import libraries): made with
# llvm-dlltool from .def files that list what MinGW-w64's x86-64 import
# library of the same DLL imports, since a DLL exports the same names on
# both. Each is written as <name>.lib and lib<name>.a, for lld-link and for
# the GNU-style driver. Made once per folder.
# In:  WINDOWS_ARM64_LIBS (the folder to fill), WINDOWS_ARM64_DLLS (the
#      DLLs' base names), WINDOWS_ARM64_NOT_EXPORTED (what MinGW-w64's
#      library adds of its own, which the DLL lacks), CMAKE_DLLTOOL.
set(x64_import_libs /usr/x86_64-w64-mingw32/lib)
find_program(WINDOWS_ARM64_NM NAMES llvm-nm-19 REQUIRED)
file(MAKE_DIRECTORY ${WINDOWS_ARM64_LIBS})
foreach(dll IN LISTS WINDOWS_ARM64_DLLS)
  if(EXISTS ${WINDOWS_ARM64_LIBS}/${dll}.lib)
    continue()
  endif()
  execute_process(COMMAND ${WINDOWS_ARM64_NM} --defined-only --just-symbol-name ${x64_import_libs}/lib${dll}.a
    OUTPUT_VARIABLE symbols ERROR_QUIET COMMAND_ERROR_IS_FATAL ANY)
  string(REGEX MATCHALL "(^|\n)__imp_[A-Za-z0-9_@?$]+" names "${symbols}")
  list(TRANSFORM names REPLACE "^\n?__imp_" "")
  list(REMOVE_DUPLICATES names)
  if(WINDOWS_ARM64_NOT_EXPORTED)
    list(REMOVE_ITEM names ${WINDOWS_ARM64_NOT_EXPORTED})
  endif()
  list(JOIN names "\n" exports)
  file(WRITE ${WINDOWS_ARM64_LIBS}/${dll}.def "LIBRARY ${dll}.dll\nEXPORTS\n${exports}\n")
  execute_process(
    COMMAND ${CMAKE_DLLTOOL} -m arm64 -d ${WINDOWS_ARM64_LIBS}/${dll}.def -l ${WINDOWS_ARM64_LIBS}/${dll}.lib
    COMMAND_ERROR_IS_FATAL ANY)
  file(CREATE_LINK ${dll}.lib ${WINDOWS_ARM64_LIBS}/lib${dll}.a SYMBOLIC)
endforeach()

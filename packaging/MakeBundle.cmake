# cmake -DSTAGE=<dir> -DZIP_FILE=<zip> -DDLL= -DEXE= -DIMPLIB= -DHEADER= -DDEF=
#       -DREADME= -DLICENSE= -DCONFIG= -DCONFIG_VERSION= -DDLLTOOL= -DZIP= -DTOUCH=
#       [-DEPOCH=<seconds>] -P MakeBundle.cmake
# Lays out the release bundle in a fresh STAGE folder and zips it. The same
# inputs give the same bytes: one file order, one time stamp (SOURCE_DATE_EPOCH
# or EPOCH), fixed permissions, no extra zip fields, no directory entries.
#
# cmake -DEPOCH_FILE=<file> -P MakeBundle.cmake
# Writes SOURCE_DATE_EPOCH as this build sees it into EPOCH_FILE, touching the
# file only when it changes: the zip depends on it, so a new value makes a
# new zip although Ninja does not watch the environment.
if(DEFINED EPOCH_FILE)
  file(CONFIGURE OUTPUT ${EPOCH_FILE} CONTENT "$ENV{SOURCE_DATE_EPOCH}\n")
  return()
endif()
foreach(var STAGE ZIP_FILE DLL EXE IMPLIB HEADER DEF README LICENSE CONFIG CONFIG_VERSION DLLTOOL ZIP TOUCH EPOCH)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "MakeBundle.cmake: ${var} is required")
  endif()
endforeach()
if(DEFINED ENV{SOURCE_DATE_EPOCH} AND "$ENV{SOURCE_DATE_EPOCH}" MATCHES "^[0-9]+$")
  set(EPOCH "$ENV{SOURCE_DATE_EPOCH}")
endif()

set(name quillmar-dxgi-gpu-info)
set(cmake_dir lib/cmake/${name})
file(REMOVE_RECURSE ${STAGE})
file(REMOVE ${ZIP_FILE})

# <source> <path in the bundle>
set(layout
  ${DLL} bin/${name}.dll
  ${EXE} bin/gpuinfo.exe
  ${HEADER} include/gpuinfo.h
  ${DEF} lib/${name}.def
  ${IMPLIB} lib/${name}.dll.a
  ${CONFIG} ${cmake_dir}/${name}-config.cmake
  ${CONFIG_VERSION} ${cmake_dir}/${name}-config-version.cmake
  ${README} README.md
  ${LICENSE} LICENSE)
set(files lib/${name}.lib)
list(LENGTH layout count)
math(EXPR last "${count} - 1")
foreach(i RANGE 0 ${last} 2)
  math(EXPR j "${i} + 1")
  list(GET layout ${i} source)
  list(GET layout ${j} path)
  get_filename_component(folder ${STAGE}/${path} DIRECTORY)
  file(MAKE_DIRECTORY ${folder})
  configure_file(${source} ${STAGE}/${path} COPYONLY)
  list(APPEND files ${path})
endforeach()

# The MSVC import library, made from the export list itself (llvm-lib would
# ignore a /def: option).
execute_process(COMMAND ${DLLTOOL} -m i386:x86-64 -d ${DEF} -l ${STAGE}/lib/${name}.lib
  RESULT_VARIABLE rc ERROR_VARIABLE err)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "${DLLTOOL} failed (${rc}): ${err}")
endif()

list(SORT files)
set(sums "")
foreach(path IN LISTS files)
  file(SHA256 ${STAGE}/${path} hash)
  string(APPEND sums "${hash}  ${path}\n")
endforeach()
file(WRITE ${STAGE}/SHA256SUMS "${sums}")
list(APPEND files SHA256SUMS)
list(SORT files)

foreach(path IN LISTS files)
  if(path MATCHES "^bin/")
    file(CHMOD ${STAGE}/${path} PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
         WORLD_READ WORLD_EXECUTE)
  else()
    file(CHMOD ${STAGE}/${path} PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
  endif()
  execute_process(COMMAND ${TOUCH} -d @${EPOCH} ${STAGE}/${path} RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "touch failed on ${path}")
  endif()
endforeach()

# zip stores local time: pin the zone so every machine writes the same.
execute_process(COMMAND ${CMAKE_COMMAND} -E env TZ=UTC ${ZIP} -X -D -q -9 ${ZIP_FILE} ${files}
  WORKING_DIRECTORY ${STAGE} RESULT_VARIABLE rc ERROR_VARIABLE err)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "zip failed (${rc}): ${err}")
endif()

# cmake -DBUILD_DIR=<build> -DCONFIG=<config> -DSTAGE=<dir> -DZIP_FILE=<zip>
#       -DZIP=<zip program> -DTOUCH=<touch program> -DEPOCH=<seconds>
#       [-DREPLACE_BIN=<file;...>] -P MakeBundle.cmake
# Installs the build into a fresh STAGE folder (the default components, then
# the bundle's README and LICENSE), adds SHA256SUMS and zips it. Each file in
# REPLACE_BIN takes the place of the installed bin/ file of its name: the
# release's signed copies of the binaries the build made. The same
# inputs give the same bytes: one file order, one time stamp
# (SOURCE_DATE_EPOCH or EPOCH), fixed permissions, no extra zip fields and no
# directory entries.
#
# cmake -DEPOCH_FILE=<file> -P MakeBundle.cmake
# Writes SOURCE_DATE_EPOCH as this build sees it into EPOCH_FILE, touching the
# file only when it changes: the zip depends on it, so a new value makes a
# new zip although Ninja does not watch the environment.
if(DEFINED EPOCH_FILE)
  file(CONFIGURE OUTPUT ${EPOCH_FILE} CONTENT "$ENV{SOURCE_DATE_EPOCH}\n")
  return()
endif()
foreach(var BUILD_DIR CONFIG STAGE ZIP_FILE ZIP TOUCH EPOCH)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "MakeBundle.cmake: ${var} is required")
  endif()
endforeach()
if(DEFINED ENV{SOURCE_DATE_EPOCH} AND "$ENV{SOURCE_DATE_EPOCH}" MATCHES "^[0-9]+$")
  set(EPOCH "$ENV{SOURCE_DATE_EPOCH}")
endif()

file(REMOVE_RECURSE ${STAGE})
file(REMOVE ${ZIP_FILE})
foreach(component_args "" "--component;bundle")
  execute_process(
    COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${STAGE} --config ${CONFIG} ${component_args}
    RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "cmake --install failed (${rc}):\n${out}")
  endif()
endforeach()

foreach(replacement IN LISTS REPLACE_BIN)
  get_filename_component(name ${replacement} NAME)
  if(NOT EXISTS ${STAGE}/bin/${name})
    message(FATAL_ERROR "REPLACE_BIN: the install layout has no bin/${name}")
  endif()
  file(COPY_FILE ${replacement} ${STAGE}/bin/${name})
endforeach()

file(GLOB_RECURSE files LIST_DIRECTORIES false RELATIVE ${STAGE} ${STAGE}/*)
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

# cmake -DCARGO=<cargo> -DSOURCE=<bindings/rust> -DDLL=<dll> -DWORK=<folder>
#       [-DTARGET=<triple>] -DWINE=<emulator> -DVERSION=<x.y.z> -P check_layouts.cmake
# The crate as released (its DLL in native/) under a program of its own that
# depends on it, built and installed the ways cargo lays programs out; each
# program runs with no DLL beside it and must find the one the crate embeds.
# Then the per-user copy is altered, and the next run must write it afresh.
# The environment (cargo home, target folder, PATH, Wine prefix) comes from
# the caller; the target folders stay in WORK between runs.
set(name quillmar-dxgi-gpu-info.dll)
set(crate ${WORK}/crate)
set(consumer ${WORK}/consumer)
file(REMOVE_RECURSE ${crate} ${consumer}/src ${WORK}/run)
file(MAKE_DIRECTORY ${crate}/native ${consumer}/src ${WORK}/run)
file(COPY ${SOURCE}/src ${SOURCE}/examples DESTINATION ${crate})
file(COPY ${SOURCE}/Cargo.toml ${SOURCE}/build.rs ${SOURCE}/README.md DESTINATION ${crate})
file(COPY ${DLL} DESTINATION ${crate}/native)
# The README's first program.
file(COPY_FILE ${SOURCE}/examples/adapters.rs ${consumer}/src/main.rs)
file(WRITE ${consumer}/Cargo.toml "[package]\nname = \"gpuinfo-consumer\"\nversion = \"0.1.0\"\nedition = \"2021\"\n\n"
  "[dependencies]\nquillmar-gpuinfo = { path = \"../crate\" }\n")

set(target_args "")
set(triple_dir "")
set(build_target "")
if(TARGET)
  set(target_args "--target ${TARGET}")
  set(build_target CARGO_BUILD_TARGET=${TARGET})
  set(triple_dir ${TARGET}/)
endif()
set(exe gpuinfo-consumer.exe)

# <label> <program> <cargo command...>
set(rows
  "target from cargo's settings, default target folder" ${consumer}/target/${triple_dir}debug/${exe}
  "env --unset=CARGO_TARGET_DIR ${build_target} ${CARGO} build --manifest-path ${consumer}/Cargo.toml"
  "--target, a target folder elsewhere" ${WORK}/elsewhere/${triple_dir}debug/${exe}
  "env CARGO_TARGET_DIR=${WORK}/elsewhere ${CARGO} build --manifest-path ${consumer}/Cargo.toml ${target_args}"
  "cargo install --root" ${WORK}/installed/bin/${exe}
  "env CARGO_TARGET_DIR=${WORK}/install-target ${CARGO} install --path ${consumer} --root ${WORK}/installed --force ${target_args}")

function(run_program label program)
  execute_process(COMMAND ${WINE} ${program} WORKING_DIRECTORY ${WORK}/run RESULT_VARIABLE rc
    OUTPUT_FILE ${WORK}/run/out.txt ERROR_FILE ${WORK}/run/err.txt)
  file(READ ${WORK}/run/out.txt out)
  file(READ ${WORK}/run/err.txt err)
  string(REPLACE "\r\n" "\n" out "${out}")
  message(STATUS "[${label}] ${program} -> ${rc}\n${out}${err}")
  if(NOT rc EQUAL 0 OR NOT out MATCHES "^quillmar-dxgi-gpu-info ${VERSION}\n.*hardware adapter")
    message(FATAL_ERROR "[${label}] the program did not list the adapters through the embedded DLL")
  endif()
endfunction()

set(last "")
while(rows)
  list(POP_FRONT rows label program command)
  separate_arguments(command UNIX_COMMAND "${command}")
  execute_process(COMMAND ${CMAKE_COMMAND} -E ${command} RESULT_VARIABLE rc
    OUTPUT_VARIABLE build_out ERROR_VARIABLE build_out)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "[${label}] cargo failed (${rc}):\n${build_out}")
  endif()
  get_filename_component(folder ${program} DIRECTORY)
  if(NOT EXISTS ${program} OR EXISTS ${folder}/${name})
    message(FATAL_ERROR "[${label}] expected ${program} with no ${name} beside it")
  endif()
  run_program("${label}" ${program})
  set(last ${program})
endwhile()

# The copy: in the user's local application data, in a folder named by the
# crate's version and the DLL's SHA-256, the DLL's very bytes.
file(SHA256 ${DLL} digest)
string(SUBSTRING ${digest} 0 16 digest)
file(GLOB copy $ENV{WINEPREFIX}/drive_c/users/*/AppData/Local/quillmar-dxgi-gpu-info/${VERSION}-${digest}/${name})
if(NOT copy)
  message(FATAL_ERROR "no copy in the user's quillmar-dxgi-gpu-info\\${VERSION}-${digest} folder")
endif()
file(SHA256 ${copy} got)
file(SHA256 ${DLL} want)
if(NOT got STREQUAL want)
  message(FATAL_ERROR "${copy} is not the DLL")
endif()
message(STATUS "the copy: ${copy}")

# An altered copy is not loaded: it is written afresh.
file(WRITE ${copy} "not the library")
run_program("the copy altered" ${last})
file(SHA256 ${copy} got)
if(NOT got STREQUAL want)
  message(FATAL_ERROR "the altered copy was not written afresh")
endif()
message(STATUS "the altered copy was written afresh and loaded")

# cmake -DCRATE=<file.crate> -DSOURCE=<bindings/rust> -P check_crate.cmake
# Lists the .crate's files and checks them against what the crate must
# carry: the manifest cargo writes, the project's LICENSE as a file, the
# README, and every source and example file of the folder, nothing else (no
# integration tests, which need the project's build, no build output).
# <name>-<version>.crate holds the folder <name>-<version>.
get_filename_component(top ${CRATE} NAME)
string(REGEX REPLACE "[.]crate$" "" top "${top}")
set(unpacked ${CRATE}.files)
file(REMOVE_RECURSE ${unpacked})
file(MAKE_DIRECTORY ${unpacked})
file(ARCHIVE_EXTRACT INPUT ${CRATE} DESTINATION ${unpacked})
file(GLOB_RECURSE got RELATIVE ${unpacked}/${top} ${unpacked}/${top}/*)
list(SORT got)
foreach(f IN LISTS got)
  file(SIZE ${unpacked}/${top}/${f} size)
  message(STATUS "${top}/${f} (${size} bytes)")
endforeach()

# Cargo.toml (normalised), Cargo.toml.orig (as written) and Cargo.lock
# (packed when there is an example) are cargo's own, and so is
# .cargo_vcs_info.json, written only from a clean git checkout.
list(REMOVE_ITEM got .cargo_vcs_info.json)
file(GLOB_RECURSE sources RELATIVE ${SOURCE} ${SOURCE}/src/*.rs ${SOURCE}/examples/*.rs)
set(want Cargo.toml Cargo.toml.orig Cargo.lock LICENSE README.md build.rs native/README.md ${sources})
list(SORT want)
if(NOT got STREQUAL want)
  message(FATAL_ERROR "the .crate holds\n  ${got}\nwant\n  ${want}")
endif()

# LICENSE is a link in the source tree: the .crate must hold the text.
file(READ ${unpacked}/${top}/LICENSE license)
file(READ ${SOURCE}/../../LICENSE project_license)
if(NOT license STREQUAL project_license)
  message(FATAL_ERROR "the .crate's LICENSE is not the project's")
endif()
list(LENGTH got n)
message(STATUS "${top}.crate: ${n} files as expected")

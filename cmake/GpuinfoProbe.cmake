# Probes of the machine that are taken again at every configure.
#
# find_program() keeps its first answer in the cache for good, so a build
# tree configured before scripts/setup.sh installed a tool (rustup's cargo
# where Debian's was wanted, no crate folder, no go) would keep that answer
# after the install. These probes instead look again each time, and the cache
# only records what they found; a value someone set by hand (-D, ccmake) is
# kept. A tree configured before an install thus ends up the same as one
# configured on a machine that had the tools from the start.

# gpuinfo_probed(<var> <value> <type> <doc>): sets the cache entry <var> to
# <value>, the answer of a probe, unless <var> was set by hand.
function(gpuinfo_probed var value type doc)
  set(mark _GPUINFO_PROBED_${var})
  if(DEFINED CACHE{${var}})
    # Set before any probe, or changed since the last one: someone's choice.
    if(NOT DEFINED CACHE{${mark}} OR NOT "$CACHE{${var}}" STREQUAL "$CACHE{${mark}}")
      set(${var} "$CACHE{${var}}" PARENT_SCOPE)
      return()
    endif()
  endif()
  set(${var} "${value}" CACHE ${type} "${doc}" FORCE)
  set(${mark} "${value}" CACHE INTERNAL "")
  set(${var} "${value}" PARENT_SCOPE)
endfunction()

# gpuinfo_find_program(<var> <find_program arguments>...): find_program()
# looked up again at every configure; <var> is <var>-NOTFOUND when nothing
# is found, as with find_program().
function(gpuinfo_find_program var)
  unset(_gpuinfo_probe_found)
  find_program(_gpuinfo_probe_found ${ARGN} NO_CACHE)
  if(NOT _gpuinfo_probe_found)
    set(_gpuinfo_probe_found ${var}-NOTFOUND)
  endif()
  gpuinfo_probed(${var} "${_gpuinfo_probe_found}" FILEPATH "Program found by the configure (looked for again each time)")
  set(${var} "${${var}}" PARENT_SCOPE)
endfunction()

# gpuinfo_find_path(<var> <find_path arguments>...): the same for find_path().
function(gpuinfo_find_path var)
  unset(_gpuinfo_probe_found)
  find_path(_gpuinfo_probe_found ${ARGN} NO_CACHE)
  if(NOT _gpuinfo_probe_found)
    set(_gpuinfo_probe_found ${var}-NOTFOUND)
  endif()
  gpuinfo_probed(${var} "${_gpuinfo_probe_found}" PATH "Folder found by the configure (looked for again each time)")
  set(${var} "${${var}}" PARENT_SCOPE)
endfunction()

# gpuinfo_binding_cases(<out-var>): the cases of bindings/testdata/cases.json
# as pairs "<case> <way>:<kind>", for the bindings that register one test per
# case: through the test seam ("seam:double", the double with the preset of
# the case's name; "seam:missing", "seam:no_entry", the seam's own modes) or
# through the system directory ("system:wine", the machine's own DXGI). The
# case "system" (any machine's own DXGI) is what "wine" checks outside the
# private prefixes, so it has no test of its own here.
function(gpuinfo_binding_cases out)
  set(file ${PROJECT_SOURCE_DIR}/bindings/testdata/cases.json)
  file(READ ${file} table)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${file})
  string(JSON count LENGTH "${table}" cases)
  math(EXPR last "${count} - 1")
  set(pairs "")
  foreach(i RANGE ${last})
    string(JSON name GET "${table}" cases ${i} name)
    if(name STREQUAL "system")
      continue()
    elseif(name MATCHES "^(missing|no_entry)$")
      list(APPEND pairs ${name} seam:${name})
    elseif(name STREQUAL "wine")
      list(APPEND pairs ${name} system:wine)
    else()
      list(APPEND pairs ${name} seam:double)
    endif()
  endforeach()
  set(${out} ${pairs} PARENT_SCOPE)
endfunction()

# gpuinfo_lock_squatters(<out-var>): the names of the squatter table's rows
# (cases.json "lock" "squatters"), for the bindings that run each row in a
# process of its own, as a binding keeps the mutex once it has one.
function(gpuinfo_lock_squatters out)
  set(file ${PROJECT_SOURCE_DIR}/bindings/testdata/cases.json)
  file(READ ${file} table)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${file})
  string(JSON count LENGTH "${table}" lock squatters)
  math(EXPR last "${count} - 1")
  set(names "")
  foreach(i RANGE ${last})
    string(JSON name GET "${table}" lock squatters ${i} name)
    list(APPEND names ${name})
  endforeach()
  set(${out} ${names} PARENT_SCOPE)
endfunction()

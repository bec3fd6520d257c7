# gpuinfo.exe under Wine, its output written to files and checked from the
# host by check_tool.py, one test per group of cases and per dxgi.dll.
find_package(Python3 COMPONENTS Interpreter)

# A stand-in for the library that returns report.json from its own folder:
# the reader cases feed the tool reports the library would never write.
add_library(report_double SHARED ${CMAKE_CURRENT_LIST_DIR}/report_double.c ${CMAKE_CURRENT_LIST_DIR}/report_double.def)
set_target_properties(report_double PROPERTIES PREFIX "")
target_link_libraries(report_double PRIVATE strict_warnings)

set(check_tool ${Python3_EXECUTABLE} ${CMAKE_CURRENT_LIST_DIR}/check_tool.py)
set(tool_args "--wine=${CMAKE_CROSSCOMPILING_EMULATOR}" --exe $<TARGET_FILE:gpuinfo_tool>
              --version ${PROJECT_VERSION} --stand-in $<TARGET_FILE:fake_dxgi>
              --library $<TARGET_FILE:gpuinfo> --report-double $<TARGET_FILE:report_double>)

foreach(group table json usage console unusable failure folders reader)
  gpuinfo_wine_test(tool_${group} DXGI fake LABELS tool COMMAND ${check_tool} ${group} ${tool_args})
endforeach()
foreach(dxgi missing no_entry wine)
  # The machine's own DXGI: Wine's no3d adapter in the private prefix, any
  # machine's adapters elsewhere.
  set(machine_args "")
  if(dxgi STREQUAL "wine" AND GPUINFO_UNDER_WINE)
    set(machine_args --expect-wine-no3d)
  endif()
  gpuinfo_wine_test(tool_dxgi_${dxgi} DXGI ${dxgi} LABELS tool COMMAND ${check_tool} ${dxgi} ${tool_args} ${machine_args})
endforeach()

# gpuinfo.exe under Wine, its output written to files and checked from the
# host by check_tool.py, one test per group of cases and per dxgi.dll.
find_package(Python3 REQUIRED COMPONENTS Interpreter)
set(check_tool ${Python3_EXECUTABLE} ${PROJECT_SOURCE_DIR}/tests/tool/check_tool.py)
set(tool_args --wine ${CMAKE_CROSSCOMPILING_EMULATOR} --exe $<TARGET_FILE:gpuinfo_tool>
              --version ${PROJECT_VERSION} --stand-in $<TARGET_FILE:fake_dxgi>)

foreach(group table json usage console unusable failure)
  gpuinfo_wine_test(tool_${group} DXGI fake COMMAND ${check_tool} ${group} ${tool_args})
endforeach()
gpuinfo_wine_test(tool_dxgi_missing DXGI missing COMMAND ${check_tool} missing ${tool_args})
gpuinfo_wine_test(tool_dxgi_no_entry DXGI no_entry COMMAND ${check_tool} no_entry ${tool_args})
gpuinfo_wine_test(tool_dxgi_wine DXGI wine COMMAND ${check_tool} wine ${tool_args})

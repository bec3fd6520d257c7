# cmake -DPREFIX=<dir> [-DDXGI=<dll>] [-DRUNNER=<command;args>] -P WinePrefix.cmake
# Creates a private Wine prefix once (about ten seconds), starts its server
# and system processes for the test run (ended with `wineserver -k`) and,
# with DXGI, installs that DLL as the prefix's system32\dxgi.dll, the file a
# library that loads dxgi.dll from the system directory finds. RUNNER runs
# Wine's programs where they live (scripts/arm64_wine.sh run, for aarch64
# Wine in its chroot), by name.
if(NOT PREFIX)
  message(FATAL_ERROR "PREFIX is required")
endif()
if(RUNNER)
  set(WINEBOOT ${RUNNER} wineboot)
  set(WINE ${RUNNER} wine)
  set(WINESERVER ${RUNNER} wineserver)
else()
  find_program(WINEBOOT wineboot REQUIRED)
  find_program(WINE wine REQUIRED)
  find_program(WINESERVER wineserver PATHS /usr/lib/wine NO_DEFAULT_PATH)
  find_program(WINESERVER wineserver REQUIRED)
endif()
set(ENV{WINEPREFIX} ${PREFIX})
set(ENV{WINEDEBUG} -all)
set(ENV{WINEDLLOVERRIDES} "mscoree,mshtml=")
# As the tests run: no X display.
set(ENV{DISPLAY} "")
if(NOT EXISTS ${PREFIX}/system.reg)
  message(STATUS "Creating the Wine prefix ${PREFIX} (once, about ten seconds)")
  get_filename_component(parent ${PREFIX} DIRECTORY)
  file(MAKE_DIRECTORY ${parent})
  execute_process(COMMAND ${WINEBOOT} -i RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
  execute_process(COMMAND ${WINESERVER} -w)
  if(NOT rc EQUAL 0 OR NOT EXISTS ${PREFIX}/system.reg)
    message(FATAL_ERROR "wineboot failed (${rc}) for ${PREFIX}:\n${out}")
  endif()
endif()
if(DXGI)
  configure_file(${DXGI} ${PREFIX}/drive_c/windows/system32/dxgi.dll COPYONLY)
endif()
# One server for the whole test run, ended by the wine_stop fixture: a server
# that quits between two programs can drop the next one as it connects
# ("recvmsg: Connection reset by peer").
#
# The first Wine program a server runs also starts the prefix's system
# processes (services.exe, winedevice.exe, plugplay.exe, rpcss.exe,
# explorer.exe), which live as long as the server and keep that program's
# standard error, and any other descriptor it leaves open, for their whole
# life. Were that program a test's, CTest would wait for the end of its
# output pipe until the server is ended. So the server and its system
# processes are started here, before any test, with their standard handles
# on /dev/null and this prefix's log.
set(log ${PREFIX}/wineserver.log)
execute_process(COMMAND ${WINESERVER} -p
  INPUT_FILE /dev/null OUTPUT_FILE ${log} ERROR_FILE ${log} RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "wineserver -p failed (${rc}) for ${PREFIX}")
endif()
execute_process(COMMAND ${WINE} cmd /c exit
  INPUT_FILE /dev/null OUTPUT_FILE ${PREFIX}/system-processes.log ERROR_FILE ${PREFIX}/system-processes.log
  RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "starting the system processes of ${PREFIX} failed (${rc}), see ${PREFIX}/system-processes.log")
endif()

# cmake -DBUILD_DIR= -DTARGET= [-DDLL=<dll>] [-DOBJECTS=<obj;...>] -DEXPECT=<text>
#       [-DLINK_REFUSAL=<text>] -DPYTHON= -DCHECK= [-DCHECK_ARGS=<args>] -P NegativeFixture.cmake
# Builds a deliberately faulty copy of the DLL (or objects compiled as its
# own are) and runs the binary check on it, which must fail naming EXPECT. A
# linker that refuses the fault outright, with a message containing
# LINK_REFUSAL, passes as well: the fault can't reach a DLL either way.
execute_process(COMMAND ${CMAKE_COMMAND} --build ${BUILD_DIR} --target ${TARGET}
  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
if(NOT rc EQUAL 0)
  if(LINK_REFUSAL AND out MATCHES "${LINK_REFUSAL}")
    message("the linker refuses ${TARGET}: ${LINK_REFUSAL}")
    message("1 passed, 0 failed")
    return()
  endif()
  message(FATAL_ERROR "building ${TARGET} failed for another reason (${rc}):\n${out}\n0 passed, 1 failed")
endif()
set(what "")
if(DEFINED DLL)
  list(APPEND what --dll ${DLL})
endif()
if(DEFINED OBJECTS)
  list(APPEND what --objects ${OBJECTS})
endif()
execute_process(COMMAND ${PYTHON} ${CHECK} ${what} ${CHECK_ARGS} --expect-failure ${EXPECT} RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "the binary check did not catch ${TARGET}")
endif()

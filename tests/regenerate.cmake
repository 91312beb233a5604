# Runs a generator and compares what it writes with the committed file.
# Usage: cmake -DGENERATOR=exe -DEXPECTED=file -DOUT=file -P regenerate.cmake
execute_process(COMMAND ${GENERATOR} ${OUT} RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "${GENERATOR} failed (${rc})")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${OUT} ${EXPECTED} RESULT_VARIABLE diff)
if(NOT diff EQUAL 0)
  message(FATAL_ERROR "${EXPECTED} is not what ${GENERATOR} writes: regenerate it")
endif()

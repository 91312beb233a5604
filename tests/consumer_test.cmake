# Installs the build into a staging prefix, then builds the example consumer out of
# tree against it twice, through find_package(XRQ5) and through pkg-config, and runs
# both builds on the example event list.
# Usage: cmake -DBUILD_DIR=.. -DSOURCE_DIR=.. -DWORK=.. -DCXX=.. -P consumer_test.cmake
file(REMOVE_RECURSE ${WORK})
set(stage ${WORK}/stage)

function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "failed (${rc}): ${ARGN}\n${out}\n${err}")
  endif()
  set(last_output "${out}" PARENT_SCOPE)
endfunction()

run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${stage})
run(${CMAKE_COMMAND} -S ${SOURCE_DIR}/examples/consumer -B ${WORK}/cmake-build
    -DCMAKE_PREFIX_PATH=${stage} -DCMAKE_CXX_COMPILER=${CXX})
run(${CMAKE_COMMAND} --build ${WORK}/cmake-build)
run(${WORK}/cmake-build/consumer ${SOURCE_DIR}/examples/ev_list.xml)
if(NOT last_output MATCHES "3 event types: NORMAL ENV IMAGE\ndefault trigger function: MEAN")
  message(FATAL_ERROR "unexpected consumer output: ${last_output}")
endif()

# pkg-config, with the installed .pc files found relative to themselves.
file(GLOB_RECURSE pcfiles ${stage}/*/xrq5-usertrig.pc)
list(GET pcfiles 0 pcfile)
get_filename_component(pcdir ${pcfile} DIRECTORY)
set(ENV{PKG_CONFIG_PATH} ${pcdir})
run(pkg-config --cflags --libs xrq5-usertrig)
string(STRIP "${last_output}" flags)
separate_arguments(flags UNIX_COMMAND "${flags}")
run(${CXX} -std=c++17 ${SOURCE_DIR}/examples/consumer/consumer.cpp ${flags}
    -o ${WORK}/pc-consumer)
get_filename_component(libdir ${pcdir} DIRECTORY)
set(ENV{LD_LIBRARY_PATH} ${libdir})
run(${WORK}/pc-consumer ${SOURCE_DIR}/examples/ev_list.xml)
if(NOT last_output MATCHES "default trigger function: MEAN")
  message(FATAL_ERROR "unexpected pkg-config consumer output: ${last_output}")
endif()
message(STATUS "consumer: ok")

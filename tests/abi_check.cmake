# The public surface of each library against its stored baseline (tests/abi/ARCH/, made
# by abidw from the installed headers): any change of exported functions, variables or
# the types they use fails. An intended change updates the baseline in the same commit:
#   cmake --build build --target abi-baseline
# Usage: cmake -DBUILD_DIR=.. -DWORK=.. -DBASELINES=.. -DLIBS="a.so|b.so" [-DUPDATE=ON]
#        -P abi_check.cmake
string(REPLACE "|" ";" LIBS "${LIBS}")
file(REMOVE_RECURSE ${WORK})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${WORK}
                        --component development RESULT_VARIABLE rc OUTPUT_QUIET)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "installing the headers failed")
endif()
file(GLOB_RECURSE headers ${WORK}/*/XRQ5/xrq5_export.h)
get_filename_component(headers ${headers} DIRECTORY)
set(failed "")
foreach(lib ${LIBS})
  get_filename_component(name ${lib} NAME_WE)
  set(baseline ${BASELINES}/${name}.abi)
  if(UPDATE)
    file(MAKE_DIRECTORY ${BASELINES})
    execute_process(COMMAND abidw --headers-dir ${headers} --drop-private-types
                            --no-corpus-path --no-show-locs --out-file ${baseline} ${lib}
                    RESULT_VARIABLE rc)
    if(NOT rc EQUAL 0)
      message(FATAL_ERROR "abidw failed for ${lib}")
    endif()
    message(STATUS "baseline written: ${baseline}")
    continue()
  endif()
  if(NOT EXISTS ${baseline})
    message(STATUS "no baseline for ${name} on this target: not checked")
    continue()
  endif()
  execute_process(COMMAND abidiff --hd2 ${headers} --drop-private-types ${baseline} ${lib}
                  RESULT_VARIABLE rc OUTPUT_VARIABLE report ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    string(APPEND failed "${name} (abidiff ${rc}):\n${report}${err}\n")
  endif()
endforeach()
if(failed)
  message(FATAL_ERROR "the public surface changed:\n${failed}"
          "If this is intended, update tests/abi with the abi-baseline target.")
endif()
message(STATUS "public surface: as the baselines")

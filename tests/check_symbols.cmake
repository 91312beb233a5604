# The nine event-utility functions are defined in libXRQ5evutl only, and merely
# referenced by the other libraries, so that the framework's library can replace it.
# Usage: cmake -DNM=nm -DEVUTL=lib -DUSERS="lib;lib" [-DREADELF=readelf] -P check_symbols.cmake
cmake_policy(SET CMP0057 NEW)
set(functions event_name_itoa block_name_itoa get_event_struct_type get_data_structure_type
    find_upd_channel_2010 find_slow_channel_2010 get_pointer_to_data_2010
    get_spect_params_for_data_type_2010 get_image_params_2010)

function(dynamic_symbols lib out_defined out_undefined)
  execute_process(COMMAND ${NM} -D ${lib} OUTPUT_VARIABLE text RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${NM} -D ${lib} failed")
  endif()
  string(REPLACE "\n" ";" lines "${text}")
  set(defined "")
  set(undefined "")
  foreach(line ${lines})
    if(line MATCHES "^[0-9a-f]+ [TW] ([A-Za-z0-9_]+)$")
      list(APPEND defined ${CMAKE_MATCH_1})
    elseif(line MATCHES "^ +U ([A-Za-z0-9_]+)$")
      list(APPEND undefined ${CMAKE_MATCH_1})
    endif()
  endforeach()
  set(${out_defined} "${defined}" PARENT_SCOPE)
  set(${out_undefined} "${undefined}" PARENT_SCOPE)
endfunction()

dynamic_symbols(${EVUTL} defined undefined)
foreach(f ${functions})
  if(NOT f IN_LIST defined)
    message(FATAL_ERROR "${f} is not exported by ${EVUTL}")
  endif()
endforeach()

foreach(lib ${USERS})
  dynamic_symbols(${lib} defined undefined)
  foreach(f ${functions})
    if(f IN_LIST defined)
      message(FATAL_ERROR "${f} is defined in ${lib}: it must come from libXRQ5evutl only")
    endif()
  endforeach()
  if(NOT "event_name_itoa" IN_LIST undefined)
    message(FATAL_ERROR "${lib} does not reference event_name_itoa dynamically")
  endif()
endforeach()

# The stand-in needs nothing but the C library.
if(READELF)
  execute_process(COMMAND ${READELF} -d ${EVUTL} OUTPUT_VARIABLE dyn)
  if(dyn MATCHES "libstdc\\+\\+")
    message(FATAL_ERROR "${EVUTL} depends on libstdc++")
  endif()
endif()
message(STATUS "event-utility symbols: ok")

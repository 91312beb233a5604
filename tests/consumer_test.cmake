# An outside project against the installed package, as its users get it:
# - the runtime and development components alone: find_package(XRQ5) and pkg-config
#   consumers build (with both include forms) and run without LD_LIBRARY_PATH;
# - a full install: the installed tool runs;
# - an event-utility library first on LD_LIBRARY_PATH takes the place of ours;
# (The Debian packages get the same through tests/package_test.sh, run by
# tools/package.sh.)
# Usage: cmake -DBUILD_DIR=.. -DSOURCE_DIR=.. -DWORK=.. -DCXX=.. [-DFLAGS=..]
#        [-DEVUTL_SONAME=..] -P consumer_test.cmake
file(REMOVE_RECURSE ${WORK})
separate_arguments(flags UNIX_COMMAND "${FLAGS}")
unset(ENV{LD_LIBRARY_PATH})

function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "failed (${rc}): ${ARGN}\n${out}\n${err}")
  endif()
  set(last_output "${out}" PARENT_SCOPE)
endfunction()

function(expect pattern)
  if(NOT last_output MATCHES "${pattern}")
    message(FATAL_ERROR "unexpected output: ${last_output}\n(expected ${pattern})")
  endif()
endfunction()

# find_package and pkg-config consumers against `prefix`; the pkg-config build gets a
# run path of its own, as a program of a user installed outside the system folders.
function(consumers prefix name)
  run(${CMAKE_COMMAND} -S ${SOURCE_DIR}/examples/consumer -B ${WORK}/${name}-cmake
      -DCMAKE_PREFIX_PATH=${prefix} -DCMAKE_CXX_COMPILER=${CXX} "-DCMAKE_CXX_FLAGS=${FLAGS}")
  run(${CMAKE_COMMAND} --build ${WORK}/${name}-cmake)
  run(${WORK}/${name}-cmake/consumer ${SOURCE_DIR}/examples/ev_list.xml)
  expect("3 event types: NORMAL ENV IMAGE\ndefault trigger function: MEAN\nbuilt with ([0-9.]+), running with ([0-9.]+)\n")
  file(GLOB_RECURSE pcfiles ${prefix}/*/xrq5-usertrig.pc)
  list(GET pcfiles 0 pcfile)
  get_filename_component(pcdir ${pcfile} DIRECTORY)
  get_filename_component(libdir ${pcdir} DIRECTORY)
  set(ENV{PKG_CONFIG_PATH} ${pcdir})
  run(pkg-config --cflags --libs xrq5-usertrig)
  string(STRIP "${last_output}" pcflags)
  separate_arguments(pcflags UNIX_COMMAND "${pcflags}")
  run(${CXX} -std=c++17 ${flags} ${SOURCE_DIR}/examples/consumer/consumer.cpp ${pcflags}
      -Wl,-rpath,${libdir} -o ${WORK}/${name}-pc-consumer)
  run(${WORK}/${name}-pc-consumer ${SOURCE_DIR}/examples/ev_list.xml)
  expect("default trigger function: MEAN")
  run(pkg-config --libs xrq5-evdata)
  expect("-lXRQ5evdata")
endfunction()

# The runtime and development components alone.
set(stage ${WORK}/stage)
foreach(component runtime development)
  run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${stage} --component ${component})
endforeach()
if(EXISTS ${stage}/bin/xrq5xml)
  message(FATAL_ERROR "the tool came with the runtime or development component")
endif()
consumers(${stage} stage)

# The whole install: the tool starts from its prefix.
run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${WORK}/full)
run(${WORK}/full/bin/xrq5xml --version)
expect("^xrq5xml [0-9.]+ \\(libXRQ5XML [0-9.]+\\)\n$")

# The framework's event-utility library, first on the search path, takes over.
if(EVUTL_SONAME)
  file(WRITE ${WORK}/framework_evutl.cpp "
struct xrq5_serv_block_subhead_2010; struct xrq5_user_case_trigger;
struct xrq5_upd_data_block_2010; struct xrq5_env_data_block_2010;
struct xrq5_spect_statistics_2010;
extern \"C\" {
const char* event_name_itoa(int) { return \"FRAMEWORK\"; }
const char* block_name_itoa(int) { return \"FRAMEWORK\"; }
int get_event_struct_type(int) { return 0; }
int get_data_structure_type(int) { return 0; }
bool find_upd_channel_2010(xrq5_serv_block_subhead_2010*, xrq5_user_case_trigger*, xrq5_upd_data_block_2010**) { return true; }
bool find_slow_channel_2010(xrq5_serv_block_subhead_2010*, char*, xrq5_user_case_trigger*, xrq5_env_data_block_2010**) { return true; }
float* get_pointer_to_data_2010(xrq5_serv_block_subhead_2010*, int) { return nullptr; }
bool get_spect_params_for_data_type_2010(xrq5_serv_block_subhead_2010*, float*, float*, void*, int*, int*, float*, xrq5_spect_statistics_2010**, int) { return true; }
void get_image_params_2010(xrq5_serv_block_subhead_2010*, int*, int*, int*, int*, unsigned char**) {}
}
")
  file(MAKE_DIRECTORY ${WORK}/framework)
  run(${CXX} ${flags} -shared -fPIC -Wl,-soname,${EVUTL_SONAME} ${WORK}/framework_evutl.cpp
      -o ${WORK}/framework/${EVUTL_SONAME})
  set(ENV{LD_LIBRARY_PATH} ${WORK}/framework)
  run(${WORK}/stage-cmake/consumer ${SOURCE_DIR}/examples/ev_list.xml)
  expect("3 event types: FRAMEWORK FRAMEWORK FRAMEWORK")
  unset(ENV{LD_LIBRARY_PATH})
endif()

message(STATUS "consumer: ok")

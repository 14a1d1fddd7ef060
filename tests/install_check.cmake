# Installs the build tree into WORK_DIR/prefix, builds the library example
# against it and runs it; fails on any step.
file(REMOVE_RECURSE ${WORK_DIR})
function(step)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "${ARGN}\n${out}\n${err}")
  endif()
  set(step_output "${out}" PARENT_SCOPE)
endfunction()
step(${CMAKE_COMMAND} --install ${BINARY_DIR} --prefix ${WORK_DIR}/prefix)
# The consumer is compiled like the libraries (sanitizers included).
step(${CMAKE_COMMAND} -S ${SOURCE_DIR}/examples/library -B ${WORK_DIR}/build -DCMAKE_PREFIX_PATH=${WORK_DIR}/prefix
     "-DCMAKE_CXX_FLAGS=${CONSUMER_FLAGS}" "-DCMAKE_EXE_LINKER_FLAGS=${CONSUMER_FLAGS}")
step(${CMAKE_COMMAND} --build ${WORK_DIR}/build)
step(${WORK_DIR}/build/solar_noon)
if(NOT step_output MATCHES "10:00 UT  zenith  29\\.6" OR NOT step_output MATCHES "Angstrom exponent 1\\.91[0-9]* over 4 channels")
  message(FATAL_ERROR "unexpected output:\n${step_output}")
endif()
if(NOT EXISTS ${WORK_DIR}/prefix/bin/tirovan)
  message(FATAL_ERROR "tirovan not installed")
endif()

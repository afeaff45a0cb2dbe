# Installs the grabber library into a fresh prefix, checks that libornsdi
# exports only ORNSDI_ functions, builds the example program against the
# installed package and runs it: without a card, then with the simulated card
# that VANTREL_SIMCARD brings up through the installed driver module.
# Arguments: BUILD_DIR, EXAMPLE_DIR, WORK_DIR, GENERATOR, CXX_COMPILER,
# CXX_FLAGS, LINKER_FLAGS.
function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "${ARGN}\nfailed (${result}):\n${output}")
  endif()
  set(output "${output}" PARENT_SCOPE)
endfunction()

file(REMOVE_RECURSE ${WORK_DIR})
set(prefix ${WORK_DIR}/prefix)
run(${CMAKE_COMMAND} --install ${BUILD_DIR} --component ORNSDI --prefix ${prefix})

file(GLOB library ${prefix}/lib*/libornsdi.so)
if(NOT library)
  message(FATAL_ERROR "libornsdi.so was not installed under ${prefix}")
endif()
find_program(NM nm)
if(NM)
  run(${NM} -D --defined-only ${library})
  string(REGEX MATCHALL "[^\n]+" symbols "${output}")
  foreach(line IN LISTS symbols)
    if(NOT line MATCHES " ORNSDI_[A-Za-z]+$")
      message(FATAL_ERROR "libornsdi exports more than the ORNSDI_ functions: ${line}")
    endif()
  endforeach()
endif()

run(${CMAKE_COMMAND} -S ${EXAMPLE_DIR} -B ${WORK_DIR}/build -G ${GENERATOR}
  -DCMAKE_PREFIX_PATH=${prefix} -DCMAKE_CXX_COMPILER=${CXX_COMPILER}
  "-DCMAKE_CXX_FLAGS=${CXX_FLAGS}" "-DCMAKE_EXE_LINKER_FLAGS=${LINKER_FLAGS}")
run(${CMAKE_COMMAND} --build ${WORK_DIR}/build)

execute_process(COMMAND ${CMAKE_COMMAND} -E env --unset=VANTREL_SIMCARD ${WORK_DIR}/build/grab_frames 1
  RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
if(NOT result EQUAL 2 OR NOT output MATCHES "No Vantrel card found")
  message(FATAL_ERROR "grab_frames without a card: ${result}\n${output}")
endif()
message(STATUS "installed, built and ran grab_frames: ${output}")

execute_process(COMMAND ${CMAKE_COMMAND} -E env VANTREL_SIMCARD=1080p60 ${WORK_DIR}/build/grab_frames 1
  RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
if(NOT result EQUAL 0 OR NOT output MATCHES "Camera: 1920x1080, 60 frames/s, signal present"
   OR NOT output MATCHES "Grabbed [1-9][0-9]* frames of 1920x1080, 0 DMA errors\n")
  message(FATAL_ERROR "grab_frames with VANTREL_SIMCARD=1080p60: ${result}\n${output}")
endif()
message(STATUS "with VANTREL_SIMCARD=1080p60: ${output}")

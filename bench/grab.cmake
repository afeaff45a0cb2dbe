# Grabber library: frames per second the grab loop sustains on the simulated
# card in free-running mode (1920x1080, 10-bit raw frames, empty callback),
# and the CPU time the grab thread spends per frame.
if(TARGET ornsdi_core AND TARGET vantrel_simcard)
  add_executable(grab_bench ${CMAKE_CURRENT_LIST_DIR}/grab_bench.cpp)
  target_link_libraries(grab_bench PRIVATE ornsdi_core vantrel_simcard benchmark::benchmark)
  vantrel_warnings(grab_bench)
endif()

# Frame delivery (delivery_bench): frames per second that reach the stand-in
# engine through the adaptor module in each "Format" on the free-running
# simulated card, next to memcpy and a grabber-library client decoding 10-bit
# frames; in each "Format" at the real-time pace of 1080p60, frames dropped
# and process CPU time per frame next to ORNSDI_Decode alone on the same
# frame (--seconds=N or VANTREL_DELIVERY_SECONDS; default 60 s per format);
# a summary with the goals at the end.
if(TARGET vantrelimaq AND TARGET imaqmex AND TARGET ornsdi_core AND TARGET ornsdi_decode AND TARGET vantrel_simcard)
  add_executable(delivery_bench ${CMAKE_CURRENT_LIST_DIR}/delivery_bench.cpp)
  target_link_libraries(delivery_bench PRIVATE imaqmex ornsdi_core ornsdi_decode vantrel_simcard
    benchmark::benchmark)
  target_compile_definitions(delivery_bench PRIVATE "VANTRELIMAQ_PATH=\"$<TARGET_FILE:vantrelimaq>\"")
  add_dependencies(delivery_bench vantrelimaq)
  vantrel_warnings(delivery_bench)
endif()

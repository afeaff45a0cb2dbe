# vantrelsrc (gst_bench): frames per second through "vantrelsrc ! fakesink"
# in each format on the free-running simulated card, next to plain
# grabber-library clients decoding the same layouts (and the 10-bit to
# 24-bit client of delivery_bench) in the same run. Built only with GStreamer.
if(TARGET gstvantrel AND TARGET ornsdi AND TARGET vantrel_simcard)
  add_executable(gst_bench ${CMAKE_CURRENT_LIST_DIR}/gst_bench.cpp)
  target_link_libraries(gst_bench PRIVATE ornsdi vantrel_simcard PkgConfig::VANTREL_GST benchmark::benchmark)
  target_compile_definitions(gst_bench PRIVATE "VANTREL_GST_PLUGIN_DIR=\"${VANTREL_GST_PLUGIN_DIR}\""
    "VANTREL_GST_REGISTRY=\"${CMAKE_CURRENT_BINARY_DIR}/gst_bench_registry.bin\"")
  add_dependencies(gst_bench gstvantrel)
  vantrel_warnings(gst_bench)
endif()

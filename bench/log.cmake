# Logging library: LogIsEnabled per call, lines per second into the log file
# from one process and from four at once (children are the log_writer tool
# of the logging tests).
if(TARGET ornsdi_log AND TARGET log_writer)
  add_executable(log_bench ${CMAKE_CURRENT_LIST_DIR}/log_bench.cpp)
  target_link_libraries(log_bench PRIVATE ornsdi_log benchmark::benchmark)
  target_compile_definitions(log_bench PRIVATE LOG_WRITER="$<TARGET_FILE:log_writer>")
  add_dependencies(log_bench log_writer)
  vantrel_warnings(log_bench)
endif()

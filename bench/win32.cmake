# Win32 layer: a wake-up through an event between two threads, a named
# mutex taken and given back, a device request answered at once, a log
# line formatted with the Microsoft conversions, and the log key opened in
# registry files of 20,000 and 300,000 keys (first and repeated open).
if(TARGET vwin32)
  add_executable(win32_bench ${CMAKE_CURRENT_LIST_DIR}/win32_bench.cpp)
  target_link_libraries(win32_bench PRIVATE vwin32 benchmark::benchmark)
  vantrel_warnings(win32_bench)
endif()

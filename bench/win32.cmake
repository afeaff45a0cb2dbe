# Win32 layer: a wake-up through an event between two threads, a named
# mutex taken and given back, a device request answered at once, and a log
# line formatted with the Microsoft conversions.
if(TARGET vwin32)
  add_executable(win32_bench ${CMAKE_CURRENT_LIST_DIR}/win32_bench.cpp)
  target_link_libraries(win32_bench PRIVATE vwin32 benchmark::benchmark)
  vantrel_warnings(win32_bench)
endif()

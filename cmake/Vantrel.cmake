# Project-wide helpers.

# Warnings on, and treated as errors, in our own code.
function(vantrel_warnings target)
  if(MSVC)
    target_compile_options(${target} PRIVATE /W4 /WX)
  else()
    target_compile_options(${target} PRIVATE -Wall -Wextra -Werror -Wno-unknown-pragmas)
  endif()
endfunction()

# The Win32 calls: our layer on Linux, the system's libraries on Windows.
if(WIN32)
  add_library(vantrel_win32 INTERFACE)
  target_link_libraries(vantrel_win32 INTERFACE setupapi shell32 advapi32)
else()
  add_library(vantrel_win32 INTERFACE)
  target_link_libraries(vantrel_win32 INTERFACE vwin32)
endif()

# OpenMP for the decoder's row loops. MinGW: plain -fopenmp, so that the
# static runtime is linked rather than an import library.
if(WIN32 AND CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
  add_library(vantrel_openmp INTERFACE)
  target_compile_options(vantrel_openmp INTERFACE -fopenmp)
  target_link_options(vantrel_openmp INTERFACE -fopenmp)
else()
  find_package(OpenMP REQUIRED COMPONENTS CXX)
  add_library(vantrel_openmp INTERFACE)
  target_link_libraries(vantrel_openmp INTERFACE OpenMP::OpenMP_CXX)
endif()

# A GoogleTest program registered with CTest.
function(vantrel_test name)
  cmake_parse_arguments(T "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main)
  vantrel_warnings(${name})
  set(properties TIMEOUT 300)
  if(WIN32)
    # On Windows the tests share one user's registry (the logging key) and
    # the log files' named mutex, so they run one at a time.
    list(APPEND properties RESOURCE_LOCK windows_user_session)
  endif()
  set(mode)
  if(CMAKE_CROSSCOMPILING_EMULATOR)
    # Under an emulator (Wine) the tests are listed when ctest runs, not
    # after every link.
    set(mode DISCOVERY_MODE PRE_TEST)
  endif()
  gtest_discover_tests(${name} ${mode} DISCOVERY_TIMEOUT 60 PROPERTIES ${properties})
endfunction()

# Frame decoder benchmark (decode_bench): every route of ORNSDI_Decode next to
# OpenCV, libyuv, FFmpeg's v210 decoder and the memcpy floor; paced at 60
# frames a second, the process CPU time between frames next to an OpenMP
# parallel loop. The peers are optional: without them the benchmark builds
# and says which are missing.
if(TARGET ornsdi_decode AND TARGET ornsdi_log AND TARGET vwin32)
  add_executable(decode_bench ${CMAKE_CURRENT_LIST_DIR}/decode_bench.cpp)
  target_link_libraries(decode_bench PRIVATE ornsdi_decode benchmark::benchmark vantrel_openmp)
  target_include_directories(decode_bench PRIVATE ${CMAKE_SOURCE_DIR}/sdk/decode)
  vantrel_warnings(decode_bench)

  find_package(OpenCV QUIET COMPONENTS core imgproc)
  if(OpenCV_FOUND)
    target_compile_definitions(decode_bench PRIVATE HAVE_OPENCV)
    target_link_libraries(decode_bench PRIVATE opencv_core opencv_imgproc)
  endif()

  find_path(DECODE_BENCH_LIBYUV_INCLUDE libyuv.h)
  find_library(DECODE_BENCH_LIBYUV yuv)
  if(DECODE_BENCH_LIBYUV_INCLUDE AND DECODE_BENCH_LIBYUV)
    target_compile_definitions(decode_bench PRIVATE HAVE_LIBYUV)
    target_include_directories(decode_bench PRIVATE ${DECODE_BENCH_LIBYUV_INCLUDE})
    target_link_libraries(decode_bench PRIVATE ${DECODE_BENCH_LIBYUV})
  endif()

  find_package(PkgConfig QUIET)
  if(PkgConfig_FOUND)
    pkg_check_modules(DECODE_BENCH_AV QUIET IMPORTED_TARGET libavcodec libavutil)
  endif()
  if(DECODE_BENCH_AV_FOUND)
    target_compile_definitions(decode_bench PRIVATE HAVE_AVCODEC)
    target_link_libraries(decode_bench PRIVATE PkgConfig::DECODE_BENCH_AV)
  endif()
endif()

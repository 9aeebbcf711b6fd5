rovik_add_bench(bench_convert SOURCES ${CMAKE_CURRENT_LIST_DIR}/bench_convert.cpp
  LIBS qxplay_video PkgConfig::SWSCALE PkgConfig::FFMPEG)

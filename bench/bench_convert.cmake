rovik_add_bench(bench_convert SOURCES ${CMAKE_CURRENT_LIST_DIR}/bench_convert.cpp
  ${PROJECT_SOURCE_DIR}/tests/player/fixtures/reduction_quality.cpp
  LIBS rovik_player_video PkgConfig::SWSCALE PkgConfig::FFMPEG)

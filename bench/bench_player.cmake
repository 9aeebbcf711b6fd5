include(${PROJECT_SOURCE_DIR}/tests/player/fixtures/clips.cmake)
rovik_add_bench(bench_player
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/bench_player.cpp ${CMAKE_CURRENT_LIST_DIR}/picture_cpu.cpp
          ${CMAKE_CURRENT_LIST_DIR}/drawing_floor.cpp
          ${PROJECT_SOURCE_DIR}/tests/player/fixtures/clip_reader.cpp
          ${PROJECT_SOURCE_DIR}/tests/fixtures/test_window.cpp
  LIBS rovik_player_video PkgConfig::FFMPEG PkgConfig::X11 Threads::Threads)
target_compile_definitions(bench_player PRIVATE ROVIK_CLIP_DIR="${ROVIK_CLIP_DIR}")
add_dependencies(bench_player player_clips)

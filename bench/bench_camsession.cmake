# bench_camsession: 16 simulated 576p25 cameras through QXDll into a wall of X11 windows, the
# whole processor cost per picture against the bare decode. The session code and the player are
# linked into the program itself (not as the two shared libraries), so the benchmark can read
# how many pictures the players have drawn.
include(${PROJECT_SOURCE_DIR}/tests/player/fixtures/clips.cmake)
rovik_add_bench(bench_camsession
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/bench_camsession.cpp ${CMAKE_CURRENT_LIST_DIR}/picture_cpu.cpp
          ${CMAKE_CURRENT_LIST_DIR}/drawing_floor.cpp
          $<TARGET_OBJECTS:qxdll_objects>
          ${PROJECT_SOURCE_DIR}/player/api/qx_play_api.cpp ${PROJECT_SOURCE_DIR}/player/api/player_slot_table.cpp
          ${PROJECT_SOURCE_DIR}/tests/camsession/mute_camera.cpp
          ${PROJECT_SOURCE_DIR}/tests/player/fixtures/clip_reader.cpp
  LIBS rovik_p2p_protocol P2PAPI rovik_player_record rovik_player_video rovik_player_audio PkgConfig::FFMPEG
       PkgConfig::X11)
target_compile_definitions(bench_camsession PRIVATE ROVIK_CLIP_DIR="${ROVIK_CLIP_DIR}")
add_dependencies(bench_camsession camsim camera_clips)

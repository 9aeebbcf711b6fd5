# bench_camsession: pictures shown per second through QXDll from 16 simulated 576p25 cameras.
# The session code and the player are linked into the program itself (not as the two shared
# libraries), so the benchmark can read how many pictures the players have drawn.
if(TARGET qxdll_objects AND TARGET qxplay_video AND TARGET qxplay_audio AND TARGET qxplay_record
   AND TARGET P2PAPI AND TARGET camsim AND TARGET PkgConfig::X11)
  rovik_add_bench(bench_camsession
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/bench_camsession.cpp $<TARGET_OBJECTS:qxdll_objects>
            ${PROJECT_SOURCE_DIR}/player/qx_play_api.cpp ${PROJECT_SOURCE_DIR}/player/player_slot_table.cpp
            ${PROJECT_SOURCE_DIR}/tests/camsession/mute_camera.cpp
    LIBS p2p_protocol P2PAPI qxplay_record qxplay_video qxplay_audio PkgConfig::X11)
  add_dependencies(bench_camsession camsim)
endif()

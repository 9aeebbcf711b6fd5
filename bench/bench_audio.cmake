# bench_audio: CPU of the playback feeder and the capture thread per second of audio.
rovik_add_bench(bench_audio SOURCES ${CMAKE_CURRENT_LIST_DIR}/bench_audio.cpp LIBS rovik_player_audio)

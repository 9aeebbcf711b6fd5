# bench_recorder: CPU of the recording thread per second of 720p25 recording, and the time of a
# 720p JPEG snapshot, each against its reference (libavformat's AVI muxer, bare libjpeg-turbo).
rovik_add_bench(bench_recorder SOURCES ${CMAKE_CURRENT_LIST_DIR}/bench_recorder.cpp
  LIBS rovik_player_record rovik_player_video PkgConfig::FFMPEG PkgConfig::TURBOJPEG)

rovik_add_fuzz(h264_frames SOURCES ${CMAKE_CURRENT_LIST_DIR}/h264_frames.cpp LIBS rovik_player_video)

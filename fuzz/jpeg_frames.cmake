rovik_add_fuzz(jpeg_frames SOURCES ${CMAKE_CURRENT_LIST_DIR}/jpeg_frames.cpp LIBS rovik_player_video)

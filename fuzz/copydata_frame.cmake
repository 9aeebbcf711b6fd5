rovik_add_fuzz(copydata_frame SOURCES ${CMAKE_CURRENT_LIST_DIR}/copydata_frame.cpp LIBS rovik_platform)

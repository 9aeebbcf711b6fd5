# p2p_frames: bytes as a frame delivered by P2PAPI, through QXDll's AV forwarder into a recording
# player that reads every byte it is given.
rovik_add_fuzz(p2p_frames
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/p2p_frames.cpp
          ${PROJECT_SOURCE_DIR}/tests/camsession/recording_libs.cpp
  LIBS qxdll_objects)

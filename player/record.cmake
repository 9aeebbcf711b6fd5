# qxplay_record: snapshots (JPEG files) and the AVI recorder of the players.
add_library(qxplay_record STATIC
  ${CMAKE_CURRENT_LIST_DIR}/avi_writer.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ensure_directories.cpp
  ${CMAKE_CURRENT_LIST_DIR}/recorder.cpp
  ${CMAKE_CURRENT_LIST_DIR}/snapshot_writer.cpp)
set_target_properties(qxplay_record PROPERTIES
  POSITION_INDEPENDENT_CODE ON
  CXX_VISIBILITY_PRESET hidden
  VISIBILITY_INLINES_HIDDEN ON)
target_include_directories(qxplay_record PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(qxplay_record PUBLIC PkgConfig::TURBOJPEG Threads::Threads)
# The recorder's queue is the players' FrameQueue.
target_link_libraries(qxplay_record PUBLIC qxplay_video)

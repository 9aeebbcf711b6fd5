# qxplay_video: the video side of QXPlayDll — the frame queue, the H.264 and JPEG players, the
# decoders, the colour conversion, the on-screen text and the display surface with its back ends.
# Static and position-independent, so that the shared library can take it in whole. No Qt.
set(QXPLAY_VIDEO_SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/frame_queue.cpp
  ${CMAKE_CURRENT_LIST_DIR}/pixel_format.cpp
  ${CMAKE_CURRENT_LIST_DIR}/color_convert.cpp
  ${CMAKE_CURRENT_LIST_DIR}/picture_scaler.cpp
  ${CMAKE_CURRENT_LIST_DIR}/h264_decoder.cpp
  ${CMAKE_CURRENT_LIST_DIR}/jpeg_decoder.cpp
  ${CMAKE_CURRENT_LIST_DIR}/osd.cpp
  ${CMAKE_CURRENT_LIST_DIR}/display_surface.cpp
  ${CMAKE_CURRENT_LIST_DIR}/video_player.cpp
  ${CMAKE_CURRENT_LIST_DIR}/h264_player.cpp
  ${CMAKE_CURRENT_LIST_DIR}/jpeg_player.cpp
  ${CMAKE_CURRENT_LIST_DIR}/backends/display_backends.cpp
  ${CMAKE_CURRENT_LIST_DIR}/backends/display_null.cpp
  ${CMAKE_CURRENT_LIST_DIR}/backends/display_x11.cpp
)
# The SIMD conversion and scaling kernels exist for x86-64 only; elsewhere the scalar
# references serve.
if(CMAKE_SYSTEM_PROCESSOR MATCHES "^(x86_64|AMD64|amd64)$")
  list(APPEND QXPLAY_VIDEO_SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/color_convert_x86.cpp
    ${CMAKE_CURRENT_LIST_DIR}/color_convert_sse2.cpp
    ${CMAKE_CURRENT_LIST_DIR}/color_convert_avx2.cpp
    ${CMAKE_CURRENT_LIST_DIR}/picture_scaler_x86.cpp
    ${CMAKE_CURRENT_LIST_DIR}/picture_scaler_sse2.cpp
    ${CMAKE_CURRENT_LIST_DIR}/picture_scaler_avx2.cpp)
  set_source_files_properties(${CMAKE_CURRENT_LIST_DIR}/color_convert_avx2.cpp
    ${CMAKE_CURRENT_LIST_DIR}/picture_scaler_avx2.cpp PROPERTIES COMPILE_OPTIONS "-mavx2")
else()
  list(APPEND QXPLAY_VIDEO_SOURCES ${CMAKE_CURRENT_LIST_DIR}/color_convert_generic.cpp
    ${CMAKE_CURRENT_LIST_DIR}/picture_scaler_generic.cpp)
endif()

add_library(qxplay_video STATIC ${QXPLAY_VIDEO_SOURCES})
set_target_properties(qxplay_video PROPERTIES POSITION_INDEPENDENT_CODE ON AUTOMOC OFF AUTORCC OFF)
target_include_directories(qxplay_video PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(qxplay_video
  PUBLIC Threads::Threads
  PRIVATE PkgConfig::FFMPEG PkgConfig::SWSCALE PkgConfig::TURBOJPEG PkgConfig::X11
          PkgConfig::CAIRO)

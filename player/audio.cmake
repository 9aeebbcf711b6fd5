# qxplay_audio: camera audio playback (ring, output device, feeder) and microphone capture,
# over the audio back ends (ALSA, null) of player/backends.
add_library(qxplay_audio STATIC
  ${CMAKE_CURRENT_LIST_DIR}/audio.cpp
  ${CMAKE_CURRENT_LIST_DIR}/pcm_ring.cpp
  ${CMAKE_CURRENT_LIST_DIR}/wav_out.cpp
  ${CMAKE_CURRENT_LIST_DIR}/wave_in.cpp
  ${CMAKE_CURRENT_LIST_DIR}/backends/audio_backend.cpp
  ${CMAKE_CURRENT_LIST_DIR}/backends/audio_null.cpp
  ${CMAKE_CURRENT_LIST_DIR}/backends/audio_alsa.cpp
  ${CMAKE_CURRENT_LIST_DIR}/backends/rate_converter.cpp)
set_target_properties(qxplay_audio PROPERTIES POSITION_INDEPENDENT_CODE ON)
target_include_directories(qxplay_audio PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(qxplay_audio PUBLIC rovik_platform Threads::Threads PRIVATE PkgConfig::ALSA)

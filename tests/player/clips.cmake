# Test clips of the video player, made at build time with the ffmpeg tool into <build>/clips.
set(ROVIK_CLIP_DIR ${CMAKE_BINARY_DIR}/clips)
if(TARGET player_clips)
  return()
endif()
set(_clips)
set(_camera_clips)
file(MAKE_DIRECTORY ${ROVIK_CLIP_DIR})
# h264 clip: name size rate frames key-interval source
function(_rovik_h264_clip name size rate frames gop source)
  add_custom_command(OUTPUT ${ROVIK_CLIP_DIR}/${name}
    COMMAND ${ROVIK_FFMPEG_TOOL} -hide_banner -loglevel error -y -f lavfi
            -i ${source}:s=${size}:r=${rate} -frames:v ${frames}
            -c:v libx264 -profile:v baseline -pix_fmt yuv420p -bf 0
            -x264-params keyint=${gop}:min-keyint=${gop}:scenecut=0 -f h264 ${ROVIK_CLIP_DIR}/${name}
    VERBATIM)
  set(_clips ${_clips} ${ROVIK_CLIP_DIR}/${name} PARENT_SCOPE)
endfunction()
function(_rovik_jpeg name size source)
  add_custom_command(OUTPUT ${ROVIK_CLIP_DIR}/${name}
    COMMAND ${ROVIK_FFMPEG_TOOL} -hide_banner -loglevel error -y -f lavfi -i ${source}:s=${size}
            -frames:v 1 -q:v 2 -f image2 ${ROVIK_CLIP_DIR}/${name}
    VERBATIM)
  set(_clips ${_clips} ${ROVIK_CLIP_DIR}/${name} PARENT_SCOPE)
endfunction()
# Solid colours: red 0x20, green 0x80, blue 0xE0 and a light one.
_rovik_h264_clip(solid_320x240.h264 320x240 25 40 10 color=c=0x2080E0)
_rovik_h264_clip(light_176x144.h264 176x144 25 5 5 color=c=0xE0C040)
_rovik_h264_clip(solid_1920x1080.h264 1920x1080 25 3 3 color=c=0x2080E0)
_rovik_h264_clip(solid_1282x722.h264 1282x722 25 3 3 color=c=0x2080E0)
# Moving pictures for the benchmarks.
_rovik_h264_clip(bench_720p.h264 1280x720 25 250 250 testsrc2=d=60)
_rovik_h264_clip(bench_576p.h264 704x576 25 500 50 testsrc2=d=60)
# 4:2:2, which the player converts to 4:2:0 after decoding.
add_custom_command(OUTPUT ${ROVIK_CLIP_DIR}/moving_422_320x240.h264
  COMMAND ${ROVIK_FFMPEG_TOOL} -hide_banner -loglevel error -y -f lavfi
          -i testsrc2=s=320x240:r=25 -frames:v 20 -c:v libx264 -profile:v high422
          -pix_fmt yuv422p -bf 0 -f h264 ${ROVIK_CLIP_DIR}/moving_422_320x240.h264
  VERBATIM)
list(APPEND _clips ${ROVIK_CLIP_DIR}/moving_422_320x240.h264)
_rovik_jpeg(solid_320x240.jpg 320x240 color=c=0x2080E0)
_rovik_jpeg(light_200x150.jpg 200x150 color=c=0xE0C040)
# Streams like a camera's, for the benchmarks only (camera_clips): 25 fps, no B-frames, a key
# frame every 2 s, a moving scene under sensor-like noise changing every picture, held to a
# bit rate; 4 s each (camsim and the benchmarks play them in a loop).
# camera clip: name size profile bit-rate
function(_rovik_camera_clip name size profile rate)
  add_custom_command(OUTPUT ${ROVIK_CLIP_DIR}/${name}
    COMMAND ${ROVIK_FFMPEG_TOOL} -hide_banner -loglevel error -y -f lavfi
            -i testsrc2=s=${size}:r=25 -vf noise=alls=10:allf=t+u -frames:v 100
            -c:v libx264 -preset veryfast -profile:v ${profile} -pix_fmt yuv420p -bf 0
            -b:v ${rate} -maxrate ${rate} -bufsize ${rate}
            -x264-params keyint=50:min-keyint=50:scenecut=0 -f h264 ${ROVIK_CLIP_DIR}/${name}
    VERBATIM)
  set(_camera_clips ${_camera_clips} ${ROVIK_CLIP_DIR}/${name} PARENT_SCOPE)
endfunction()
_rovik_camera_clip(camera_1080p.h264 1920x1080 high 4M)
_rovik_camera_clip(camera_1440p.h264 2560x1440 main 5M)
add_custom_target(player_clips DEPENDS ${_clips})
add_custom_target(camera_clips DEPENDS ${_camera_clips})

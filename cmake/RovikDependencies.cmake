# The libraries and tools the suite stands on. scripts/deps installs them all; a missing one
# stops the configuration with the Debian package that brings it, so that nothing is left out of
# the build (and its tests) in silence.

# rovik_missing(WHAT PACKAGE): stops the configuration naming the package to install.
function(rovik_missing what package)
  message(FATAL_ERROR "${what} is missing: install the Debian package ${package} "
                      "(sudo apt install ${package}; scripts/deps installs every package the suite needs)")
endfunction()

find_package(Threads REQUIRED)
find_package(PkgConfig QUIET)
if(NOT PKG_CONFIG_FOUND)
  rovik_missing("pkg-config" pkg-config)
endif()

# rovik_require_modules(PREFIX MODULE=PACKAGE ...): the pkg-config modules as the imported target
# PkgConfig::PREFIX; each missing module is named with its package.
macro(rovik_require_modules prefix)
  set(_rovik_modules)
  foreach(_rovik_pair ${ARGN})
    string(REPLACE "=" ";" _rovik_parts ${_rovik_pair})
    list(GET _rovik_parts 0 _rovik_module)
    list(GET _rovik_parts 1 _rovik_package)
    execute_process(COMMAND ${PKG_CONFIG_EXECUTABLE} --exists ${_rovik_module}
                    RESULT_VARIABLE _rovik_absent)
    if(_rovik_absent)
      rovik_missing("${_rovik_module} (pkg-config module)" ${_rovik_package})
    endif()
    list(APPEND _rovik_modules ${_rovik_module})
  endforeach()
  pkg_check_modules(${prefix} REQUIRED IMPORTED_TARGET GLOBAL ${_rovik_modules})
endmacro()

rovik_require_modules(SQLITE3 sqlite3=libsqlite3-dev)
rovik_require_modules(JSONCPP jsoncpp=libjsoncpp-dev)
rovik_require_modules(CURL libcurl=libcurl4-openssl-dev)
rovik_require_modules(FFMPEG libavcodec=libavcodec-dev libavformat=libavformat-dev libavutil=libavutil-dev)
rovik_require_modules(SWSCALE libswscale=libswscale-dev)
rovik_require_modules(TURBOJPEG libturbojpeg=libturbojpeg0-dev)
rovik_require_modules(X11 x11=libx11-dev xext=libxext-dev xrender=libxrender-dev)
rovik_require_modules(CAIRO cairo=libcairo2-dev)
rovik_require_modules(ALSA alsa=libasound2-dev)
rovik_require_modules(MINIZIP minizip=libminizip-dev)
rovik_require_modules(ZLIB zlib=zlib1g-dev)
rovik_require_modules(CPPHTTPLIB cpp-httplib=libcpp-httplib-dev)

find_package(Qt6 QUIET COMPONENTS Core Gui Widgets Test)
if(NOT Qt6_FOUND)
  rovik_missing("Qt 6 (Core, Gui, Widgets, Test)" qt6-base-dev)
endif()
set(CMAKE_AUTOMOC ON)
set(CMAKE_AUTORCC ON)

if(ROVIK_TESTS)
  find_package(GTest QUIET)
  if(NOT GTest_FOUND OR NOT TARGET GTest::gmock)
    rovik_missing("GoogleTest with GoogleMock" "libgtest-dev libgmock-dev")
  endif()
endif()
if(ROVIK_BENCH)
  find_package(benchmark QUIET)
  if(NOT benchmark_FOUND)
    rovik_missing("Google Benchmark" libbenchmark-dev)
  endif()
endif()

# Paho MQTT C ships no pkg-config file on Debian. The synchronous client with TLS is
# libpaho-mqtt3cs (it brings its own libssl/libcrypto dependency); it serves tcp:// as well, and
# replaces libpaho-mqtt3c everywhere: the two define the same symbols, so a process links one.
find_library(PAHO_MQTT3CS_LIB paho-mqtt3cs)
find_path(PAHO_MQTT_INCLUDE MQTTClient.h)
if(NOT PAHO_MQTT3CS_LIB OR NOT PAHO_MQTT_INCLUDE)
  rovik_missing("Paho MQTT C (libpaho-mqtt3cs, MQTTClient.h)" libpaho-mqtt-dev)
endif()
add_library(rovik_paho INTERFACE)
target_link_libraries(rovik_paho INTERFACE ${PAHO_MQTT3CS_LIB})
target_include_directories(rovik_paho INTERFACE ${PAHO_MQTT_INCLUDE})
add_library(Paho::mqtt3cs ALIAS rovik_paho)
add_library(Paho::mqtt3c ALIAS rovik_paho)  # the older name, the same TLS-capable library

# The ffmpeg program makes the camera simulator's clips and the player's test clips at build time.
find_program(ROVIK_FFMPEG_TOOL ffmpeg)
if(NOT ROVIK_FFMPEG_TOOL)
  rovik_missing("the ffmpeg program" ffmpeg)
endif()

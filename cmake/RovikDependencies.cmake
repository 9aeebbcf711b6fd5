# The libraries the suite stands on (installed by scripts/deps).
find_package(Threads REQUIRED)
find_package(PkgConfig REQUIRED)

find_package(Qt6 COMPONENTS Core Gui Widgets Test)
if(Qt6_FOUND)
  set(CMAKE_AUTOMOC ON)
  set(CMAKE_AUTORCC ON)
endif()

find_package(GTest)
if(ROVIK_BENCH)
  find_package(benchmark REQUIRED)
endif()

pkg_check_modules(SQLITE3 IMPORTED_TARGET sqlite3)
pkg_check_modules(JSONCPP IMPORTED_TARGET jsoncpp)
pkg_check_modules(CURL IMPORTED_TARGET libcurl)
pkg_check_modules(FFMPEG IMPORTED_TARGET libavcodec libavformat libavutil)
pkg_check_modules(SWSCALE IMPORTED_TARGET libswscale)
pkg_check_modules(TURBOJPEG IMPORTED_TARGET libturbojpeg)
pkg_check_modules(X11 IMPORTED_TARGET x11 xext xrender)
pkg_check_modules(CAIRO IMPORTED_TARGET cairo)
pkg_check_modules(ALSA IMPORTED_TARGET alsa)
pkg_check_modules(MINIZIP IMPORTED_TARGET minizip)
pkg_check_modules(ZLIB IMPORTED_TARGET zlib)

# Paho MQTT C ships no pkg-config file on Debian. The synchronous client with TLS is
# libpaho-mqtt3cs (it brings its own libssl/libcrypto dependency); it serves tcp:// as well, and
# replaces libpaho-mqtt3c everywhere: the two define the same symbols, so a process links one.
find_library(PAHO_MQTT3CS_LIB paho-mqtt3cs)
find_path(PAHO_MQTT_INCLUDE MQTTClient.h)
if(PAHO_MQTT3CS_LIB AND PAHO_MQTT_INCLUDE)
  add_library(rovik_paho INTERFACE)
  target_link_libraries(rovik_paho INTERFACE ${PAHO_MQTT3CS_LIB})
  target_include_directories(rovik_paho INTERFACE ${PAHO_MQTT_INCLUDE})
  add_library(Paho::mqtt3cs ALIAS rovik_paho)
  add_library(Paho::mqtt3c ALIAS rovik_paho)  # the older name, the same TLS-capable library
endif()

# cpp-httplib is header-only.
find_path(HTTPLIB_INCLUDE httplib.h)

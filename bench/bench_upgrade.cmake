# Upgrade package install against unzip.
rovik_add_bench(bench_upgrade SOURCES ${CMAKE_CURRENT_LIST_DIR}/bench_upgrade.cpp
  LIBS rovik_launcher_upgrade PkgConfig::MINIZIP PkgConfig::ZLIB)

# Upgrade package install against unzip.
if(TARGET rovik_upgrade)
  rovik_add_bench(bench_upgrade SOURCES ${CMAKE_CURRENT_LIST_DIR}/bench_upgrade.cpp
    LIBS rovik_upgrade PkgConfig::MINIZIP PkgConfig::ZLIB)
endif()

rovik_add_bench(bench_store SOURCES ${CMAKE_CURRENT_LIST_DIR}/bench_store.cpp LIBS rovik_alarm_store PkgConfig::SQLITE3)

rovik_add_bench(bench_store SOURCES ${CMAKE_CURRENT_LIST_DIR}/bench_store.cpp LIBS rovik_store PkgConfig::SQLITE3)

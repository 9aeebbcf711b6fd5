rovik_add_bench(bench_grid SOURCES ${CMAKE_CURRENT_LIST_DIR}/bench_grid.cpp LIBS rovik_uikit Qt6::Widgets)

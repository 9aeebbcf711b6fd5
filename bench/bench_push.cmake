rovik_add_bench(bench_push SOURCES ${CMAKE_CURRENT_LIST_DIR}/bench_push.cpp LIBS rovik_alarm_push rovik_fixtures)

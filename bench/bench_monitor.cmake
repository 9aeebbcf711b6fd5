rovik_add_bench(bench_monitor SOURCES ${CMAKE_CURRENT_LIST_DIR}/bench_monitor.cpp
  LIBS rovik_alarm_store rovik_platform PkgConfig::SQLITE3)
add_dependencies(bench_monitor RovikAlarm rovik-send)

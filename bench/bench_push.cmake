if(TARGET rovik_push AND TARGET rovik_fixtures)
  rovik_add_bench(bench_push SOURCES ${CMAKE_CURRENT_LIST_DIR}/bench_push.cpp LIBS rovik_push rovik_fixtures)
endif()

# bench_camsession: frames per second through QXDll from 16 simulated 576p25 cameras.
if(TARGET QXDll AND TARGET camsim AND TARGET PkgConfig::X11)
  rovik_add_bench(bench_camsession SOURCES ${CMAKE_CURRENT_LIST_DIR}/bench_camsession.cpp
    LIBS QXDll PkgConfig::X11)
  add_dependencies(bench_camsession camsim)
endif()

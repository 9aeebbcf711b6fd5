# rovik_add_gtest(NAME LABEL area SOURCES ... [LIBS ...] [TIMEOUT s] [OWN_DISPLAY])
# A GoogleTest suite registered with CTest under its area label. Suites run from the build folder
# with ROVIK_BIN_DIR (the program folder) and ROVIK_SOURCE_DIR in their environment. OWN_DISPLAY:
# the suite opens X windows (or runs programs that do) and gets an X server of its own.
function(rovik_add_gtest name)
  cmake_parse_arguments(T "OWN_DISPLAY" "LABEL;TIMEOUT" "SOURCES;LIBS;ENV" ${ARGN})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  add_executable(${name} ${T_SOURCES})
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
  target_link_libraries(${name} PRIVATE GTest::gtest GTest::gmock Threads::Threads ${T_LIBS})
  if(NOT "${T_SOURCES}" MATCHES "main\\.cpp")
    target_link_libraries(${name} PRIVATE GTest::gtest_main)
  endif()
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR})
  if(T_OWN_DISPLAY)
    add_test(NAME ${name} COMMAND ${PROJECT_SOURCE_DIR}/tests/fixtures/own_display.sh $<TARGET_FILE:${name}>)
  else()
    add_test(NAME ${name} COMMAND ${name})
  endif()
  set_tests_properties(${name} PROPERTIES
    LABELS "${T_LABEL}"
    TIMEOUT ${T_TIMEOUT}
    ENVIRONMENT "ROVIK_BIN_DIR=${ROVIK_BIN_DIR};ROVIK_SOURCE_DIR=${PROJECT_SOURCE_DIR};ROVIK_BUILD_DIR=${CMAKE_BINARY_DIR};QT_QPA_PLATFORM=offscreen;ASAN_OPTIONS=detect_leaks=1:abort_on_error=0;LSAN_OPTIONS=suppressions=${PROJECT_SOURCE_DIR}/tests/lsan.supp;${T_ENV}")
endfunction()

# rovik_add_fuzz(NAME SOURCES ... [LIBS ...] [SEEDS dir])
# With ROVIK_FUZZ a libFuzzer program; otherwise a plain program that replays the seed folder,
# registered with CTest (label fuzz) so every target keeps building and its seeds stay clean.
function(rovik_add_fuzz name)
  cmake_parse_arguments(F "" "SEEDS" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${F_SOURCES})
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/fuzz)
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR})
  target_link_libraries(${name} PRIVATE ${F_LIBS})
  if(ROVIK_FUZZ)
    target_link_options(${name} PRIVATE -fsanitize=fuzzer)
  else()
    target_sources(${name} PRIVATE ${PROJECT_SOURCE_DIR}/fuzz/replay_main.cpp)
    if(ROVIK_TESTS)
      if(NOT F_SEEDS)
        set(F_SEEDS ${PROJECT_SOURCE_DIR}/fuzz/seeds/${name})
      endif()
      add_test(NAME fuzz_${name} COMMAND ${name} ${F_SEEDS})
      set_tests_properties(fuzz_${name} PROPERTIES LABELS fuzz TIMEOUT 120)
    endif()
  endif()
endfunction()

# rovik_add_bench(NAME SOURCES ... [LIBS ...]) — a Google Benchmark program in <build>/bench.
function(rovik_add_bench name)
  cmake_parse_arguments(B "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${B_SOURCES})
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bench)
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR})
  target_link_libraries(${name} PRIVATE benchmark::benchmark ${B_LIBS})
  add_dependencies(benchmarks ${name})
endfunction()

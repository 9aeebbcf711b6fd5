# Compiler flags shared by every target of the suite.
add_compile_options(-Wall -Wextra)

# ROVIK_SANITIZE: ON or address = AddressSanitizer with UndefinedBehaviorSanitizer; thread =
# ThreadSanitizer (it cannot be combined with the others).
if(ROVIK_SANITIZE STREQUAL "thread")
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
elseif(ROVIK_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
endif()

if(ROVIK_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    message(FATAL_ERROR "ROVIK_FUZZ needs clang: configure with -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_C_COMPILER=clang")
  endif()
  # Everything is instrumented for coverage; only the fuzz programs link libFuzzer's main.
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined)
  add_link_options(-fsanitize=address,undefined)
endif()

# Rebuilds across several build folders and work trees share compiled objects when ccache is there.
find_program(ROVIK_CCACHE ccache)
if(ROVIK_CCACHE AND NOT CMAKE_CXX_COMPILER_LAUNCHER)
  set(CMAKE_C_COMPILER_LAUNCHER ${ROVIK_CCACHE})
  set(CMAKE_CXX_COMPILER_LAUNCHER ${ROVIK_CCACHE})
endif()

# Every shared library of the suite resolves all its symbols at link time. Not in sanitizer or fuzz
# builds: clang links the sanitizers' run-time into programs only, so a library's references to it
# stay open until the program that loads it is linked.
if(NOT ROVIK_SANITIZE AND NOT ROVIK_FUZZ)
  string(APPEND CMAKE_SHARED_LINKER_FLAGS " -Wl,--no-undefined")
endif()

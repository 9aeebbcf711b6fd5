rovik_add_fuzz(reg_file SOURCES ${CMAKE_CURRENT_LIST_DIR}/reg_file.cpp LIBS rovik_platform)

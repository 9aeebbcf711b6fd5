rovik_add_fuzz(alarm_spill SOURCES ${CMAKE_CURRENT_LIST_DIR}/alarm_spill.cpp LIBS rovik_alarm_push)

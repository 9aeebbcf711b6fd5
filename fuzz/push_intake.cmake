rovik_add_fuzz(push_intake SOURCES ${CMAKE_CURRENT_LIST_DIR}/push_intake.cpp LIBS rovik_alarm_push)

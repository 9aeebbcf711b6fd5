rovik_add_fuzz(command_text SOURCES ${CMAKE_CURRENT_LIST_DIR}/command_text.cpp LIBS rovik_alarm_record)

rovik_add_fuzz(alarm_payload SOURCES ${CMAKE_CURRENT_LIST_DIR}/alarm_payload.cpp LIBS rovik_alarm_record)

# HTTP reply texts (the reply readers of the cloud requests) and server addresses (address files
# and request URLs).
rovik_add_fuzz(http_reply SOURCES ${CMAKE_CURRENT_LIST_DIR}/http_reply.cpp LIBS rovik_alarm_cloud rovik_alarm_record)

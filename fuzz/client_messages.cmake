rovik_add_fuzz(client_messages SOURCES ${CMAKE_CURRENT_LIST_DIR}/client_messages.cpp LIBS rovikclient_core)

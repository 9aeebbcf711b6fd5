# Any sequence of calls with any arguments through the player library's exports.
rovik_add_fuzz(play_api_calls SOURCES ${CMAKE_CURRENT_LIST_DIR}/play_api_calls.cpp LIBS QXPlayDll)

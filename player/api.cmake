# QXPlayDll: libQXPlayDll.so in the program folder, exporting exactly the 22 QX_PLAY_API_
# functions as plain C; everything else inside it stays hidden.
add_library(QXPlayDll SHARED
    ${CMAKE_CURRENT_LIST_DIR}/qx_play_api.cpp
    ${CMAKE_CURRENT_LIST_DIR}/player_slot_table.cpp)
set_target_properties(QXPlayDll PROPERTIES
    OUTPUT_NAME QXPlayDll
    C_VISIBILITY_PRESET hidden
    CXX_VISIBILITY_PRESET hidden
    VISIBILITY_INLINES_HIDDEN ON
    LINK_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/qx_play_api.map)
target_compile_definitions(QXPlayDll PRIVATE QXPLAYDLL_BUILDING)
target_include_directories(QXPlayDll PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(QXPlayDll PRIVATE qxplay_record qxplay_video qxplay_audio Threads::Threads)
target_link_options(QXPlayDll PRIVATE
    -Wl,--version-script=${CMAKE_CURRENT_LIST_DIR}/qx_play_api.map)
rovik_install(COMPONENT suite TARGETS QXPlayDll)
rovik_install_library_interface(HEADER ${CMAKE_CURRENT_LIST_DIR}/qx_play_api.h
                                  PKGCONFIG ${CMAKE_CURRENT_LIST_DIR}/rovik-qxplay.pc.in)

# RovikAlarm: the monitor's start-up, main dialog and command endpoint over the core, store,
# cloud and user-interface libraries.
add_library(rovik_monitor STATIC
  ${CMAKE_CURRENT_LIST_DIR}/core/command_text.cpp
  ${CMAKE_CURRENT_LIST_DIR}/core/dlg_operator.cpp
  ${CMAKE_CURRENT_LIST_DIR}/core/dlg_operator.h
  ${CMAKE_CURRENT_LIST_DIR}/core/rovik_alarm_dlg.cpp
  ${CMAKE_CURRENT_LIST_DIR}/core/rovik_alarm_dlg.h
  ${CMAKE_CURRENT_LIST_DIR}/core/rovik_alarm_app.cpp
  ${CMAKE_CURRENT_LIST_DIR}/core/rovik_alarm_app.h)
target_include_directories(rovik_monitor PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(rovik_monitor PUBLIC
  rovik_push rovik_alarm_ui rovik_uikit rovik_store rovik_cloud rovik_record rovik_platform Qt6::Widgets)

add_executable(RovikAlarm ${CMAKE_CURRENT_LIST_DIR}/core/rovik_alarm_main.cpp)
target_link_libraries(RovikAlarm PRIVATE rovik_monitor rovik_resources_alarm)
rovik_install(COMPONENT suite TARGETS RovikAlarm)

# The command texts alone (no Qt), for the fuzz target.
add_library(rovik_command_text STATIC ${CMAKE_CURRENT_LIST_DIR}/core/command_text.cpp)
target_include_directories(rovik_command_text PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(rovik_command_text PUBLIC rovik_record)
set_target_properties(rovik_command_text PROPERTIES AUTOMOC OFF AUTORCC OFF)

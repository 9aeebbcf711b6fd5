# cmake -DLIBRARY=libQXDll.so -P check_exports.cmake: fails unless the library's defined dynamic
# symbols are exactly the 23 QXAPI_ functions.
set(expected
  QXAPI_CreateInstance QXAPI_DeInitial QXAPI_DestroyAllInstance QXAPI_DestroyInstance
  QXAPI_GetAPIVersion QXAPI_Initial QXAPI_Refresh QXAPI_SendMessage QXAPI_SetAVDataCallBack
  QXAPI_SetMessageCallBack QXAPI_SetOSD QXAPI_SnapShot QXAPI_Start QXAPI_StartAudio
  QXAPI_StartRecord QXAPI_StartTalk QXAPI_StartVideo QXAPI_Stop QXAPI_StopAll QXAPI_StopAudio
  QXAPI_StopRecord QXAPI_StopTalk QXAPI_StopVideo)
find_program(NM nm REQUIRED)
execute_process(COMMAND ${NM} -D --defined-only --format=posix ${LIBRARY}
  OUTPUT_VARIABLE out RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "nm failed on ${LIBRARY}")
endif()
string(REPLACE "\n" ";" lines "${out}")
set(found)
foreach(line IN LISTS lines)
  # "name type value size": functions (T) and data (D, B, R, V, W) count; sanitizer runtimes
  # linked into the library are not the library's own names.
  if(line MATCHES "^([^ ]+) ([A-Za-z]) " AND NOT CMAKE_MATCH_2 STREQUAL "U")
    set(name "${CMAKE_MATCH_1}")
    if(NOT name MATCHES "^(__asan|__ubsan|__tsan|__sanitizer|_init$|_fini$|_edata$|_end$|__bss_start$)")
      list(APPEND found "${name}")
    endif()
  endif()
endforeach()
list(SORT found)
list(SORT expected)
if(NOT found STREQUAL expected)
  message(FATAL_ERROR "libQXDll.so should export exactly its 23 names; it exports: ${found}")
endif()
message(STATUS "libQXDll.so exports exactly its 23 names")

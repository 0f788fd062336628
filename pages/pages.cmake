# The product's wizard pages, one class per .h/.cpp pair (Windows only). The
# decisions they take that need no window (which simulator versions, the
# SimConnect command) are pure and built into tl_pure as well.
tl_pure_sources(${CMAKE_CURRENT_LIST_DIR}/simulator_choice.cpp ${CMAKE_CURRENT_LIST_DIR}/simconnect_command.cpp)
if(TL_WINDOWS)
  add_library(tl_pages STATIC
    ${CMAKE_CURRENT_LIST_DIR}/registry_text.cpp
    ${CMAKE_CURRENT_LIST_DIR}/page_welcome.cpp
    ${CMAKE_CURRENT_LIST_DIR}/page_license.cpp
    ${CMAKE_CURRENT_LIST_DIR}/page_type.cpp
    ${CMAKE_CURRENT_LIST_DIR}/page_tldir.cpp
    ${CMAKE_CURRENT_LIST_DIR}/page_fsdir.cpp
    ${CMAKE_CURRENT_LIST_DIR}/page_simconnect.cpp
    ${CMAKE_CURRENT_LIST_DIR}/simconnect_package.cpp
    ${CMAKE_CURRENT_LIST_DIR}/page_finished.cpp)
  target_compile_options(tl_pages PRIVATE -Wall -Wextra)
  target_link_libraries(tl_pages PUBLIC tl_wizard tl_pure tl_payload ole32 shell32 advapi32 uuid)
  target_link_libraries(tl_app INTERFACE tl_pages)
endif()

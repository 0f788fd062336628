# The product's wizard pages, one class per .h/.cpp pair (Windows only).
if(TL_WINDOWS)
  add_library(tl_pages STATIC
    ${CMAKE_CURRENT_LIST_DIR}/page_welcome.cpp
    ${CMAKE_CURRENT_LIST_DIR}/page_license.cpp
    ${CMAKE_CURRENT_LIST_DIR}/page_type.cpp
    ${CMAKE_CURRENT_LIST_DIR}/page_tldir.cpp
    ${CMAKE_CURRENT_LIST_DIR}/page_fsdir.cpp
    ${CMAKE_CURRENT_LIST_DIR}/page_simconnect.cpp
    ${CMAKE_CURRENT_LIST_DIR}/page_finished.cpp)
  target_compile_options(tl_pages PRIVATE -Wall -Wextra)
  target_link_libraries(tl_pages PUBLIC tl_wizard)
  target_link_libraries(tl_app INTERFACE tl_pages)
endif()

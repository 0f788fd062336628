# The wizard frame and the page interface's defaults (Windows only).
if(TL_WINDOWS)
  add_library(tl_wizard STATIC
    ${CMAKE_CURRENT_LIST_DIR}/wizard_ui_impl.cpp
    ${CMAKE_CURRENT_LIST_DIR}/tl3_page.cpp)
  target_compile_options(tl_wizard PRIVATE -Wall -Wextra)
  target_link_libraries(tl_wizard PUBLIC tl_strings comctl32 user32 gdi32)
  target_link_libraries(tl_app INTERFACE tl_wizard)
endif()

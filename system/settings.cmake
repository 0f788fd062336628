# Product registry settings and Start menu shortcuts.
if(TL_WINDOWS)
  add_library(tl_system STATIC
    ${CMAKE_CURRENT_SOURCE_DIR}/product_settings.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/start_menu.cpp)
  target_include_directories(tl_system PUBLIC ${TL_ROOT})
  target_compile_options(tl_system PRIVATE -Wall -Wextra)
  target_link_libraries(tl_system PUBLIC tl_strings tl_platform ole32 uuid shell32)
  target_link_libraries(tl_app INTERFACE tl_system)
endif()

# Uninstall record: the in-memory event list and its registry form.
if(TL_WINDOWS)
  add_library(tl_uninstall STATIC ${CMAKE_CURRENT_LIST_DIR}/uninstaller_setup.cpp)
  target_include_directories(tl_uninstall PUBLIC ${TL_ROOT})
  target_compile_options(tl_uninstall PRIVATE -Wall -Wextra)
  target_link_libraries(tl_uninstall PUBLIC tl_pure advapi32)
  target_link_libraries(tl_app INTERFACE tl_uninstall)
endif()

# The progress page (Windows only). A library of its own: it will also link the
# worker, the uninstall record and the system pieces that a run prepares.
if(TL_WINDOWS)
  add_library(tl_progress_page STATIC ${CMAKE_CURRENT_LIST_DIR}/page_progress.cpp)
  target_compile_options(tl_progress_page PRIVATE -Wall -Wextra)
  target_link_libraries(tl_progress_page PUBLIC tl_wizard)
  target_link_libraries(tl_app INTERFACE tl_progress_page)
endif()

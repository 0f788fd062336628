# The progress page (Windows only): prepares a run with the uninstall record,
# the product settings, the shortcuts and the add-on registration, starts the
# worker and follows it. What it shows for a byte count is pure (tl_pure).
tl_pure_sources(${CMAKE_CURRENT_LIST_DIR}/progress_display.cpp)
if(TL_WINDOWS)
  add_library(tl_progress_page STATIC ${CMAKE_CURRENT_LIST_DIR}/page_progress.cpp
    ${CMAKE_CURRENT_LIST_DIR}/progress_frames.cpp)
  target_compile_options(tl_progress_page PRIVATE -Wall -Wextra)
  # The pieces a run prepares are libraries of their own modules; named only
  # when they exist, so this page builds while a module is still missing.
  target_link_libraries(tl_progress_page PUBLIC tl_wizard tl_pure comctl32
    $<TARGET_NAME_IF_EXISTS:tl_worker> $<TARGET_NAME_IF_EXISTS:tl_addon>
    $<TARGET_NAME_IF_EXISTS:tl_uninstall> $<TARGET_NAME_IF_EXISTS:tl_system>)
  target_link_libraries(tl_app INTERFACE tl_progress_page)
endif()

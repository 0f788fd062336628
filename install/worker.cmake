# The installation worker and the progress channel (Windows only); what a run
# makes of the user's choices is pure (tl_pure).
tl_pure_sources(${CMAKE_CURRENT_LIST_DIR}/install_options.cpp)
if(TL_WINDOWS)
  add_library(tl_worker STATIC
    ${CMAKE_CURRENT_LIST_DIR}/worker.cpp
    ${CMAKE_CURRENT_LIST_DIR}/progress_channel.cpp)
  target_include_directories(tl_worker PUBLIC ${TL_ROOT})
  target_compile_options(tl_worker PRIVATE -Wall -Wextra)
  target_link_libraries(tl_worker PUBLIC tl_pure tl_payload tl_strings user32)
  target_link_libraries(tl_app INTERFACE tl_worker)
endif()

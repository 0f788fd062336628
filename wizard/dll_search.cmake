# Where setup.exe takes its libraries from: the search-order hardening of the
# entry routine, system libraries by full path, and the version.dll functions
# as forwarders (modules link tl_dll_search instead of -lversion). Windows only.
if(TL_WINDOWS)
  add_library(tl_dll_search STATIC
    ${CMAKE_CURRENT_LIST_DIR}/dll_search.cpp
    ${CMAKE_CURRENT_LIST_DIR}/system_version.cpp)
  target_include_directories(tl_dll_search PUBLIC ${TL_ROOT})
  target_link_libraries(tl_dll_search PUBLIC tl_strings)
  target_compile_options(tl_dll_search PRIVATE -Wall -Wextra)
  target_link_libraries(tl_app INTERFACE tl_dll_search)
endif()

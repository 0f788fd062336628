# Flight Simulator X add-on registration: the pure line editor of dll.xml in
# tl_pure, the Win32 glue that reads, rewrites and replaces the file.
tl_pure_sources(${CMAKE_CURRENT_LIST_DIR}/addon_edit.cpp)
if(TL_WINDOWS)
  add_library(tl_addon STATIC ${CMAKE_CURRENT_LIST_DIR}/addon_registration.cpp)
  target_include_directories(tl_addon PUBLIC ${TL_ROOT})
  target_compile_options(tl_addon PRIVATE -Wall -Wextra)
  target_link_libraries(tl_addon PUBLIC tl_pure tl_strings tl_platform shell32 shlwapi)
  target_link_libraries(tl_app INTERFACE tl_addon)
endif()

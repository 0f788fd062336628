# User-interface resources (ui.rc and the files it names). The installer gets
# them through setup.rc, which includes ui.rc ahead of the payload; tests link
# tl_ui_resources on its own.
if(TL_WINDOWS)
  # windres resolves the bitmap, icon and manifest file names through the
  # include path, so any target that compiles setup.rc or ui.rc needs this folder.
  add_library(tl_resource_includes INTERFACE)
  target_include_directories(tl_resource_includes INTERFACE ${CMAKE_CURRENT_SOURCE_DIR})
  target_link_libraries(tl_app INTERFACE tl_resource_includes)

  # Everything ui.rc pulls in; windres's dependency scan misses the binary files.
  set(TL_UI_RESOURCE_FILES
    ${CMAKE_CURRENT_SOURCE_DIR}/ui.rc
    ${CMAKE_CURRENT_SOURCE_DIR}/resource_ids.h
    ${CMAKE_CURRENT_SOURCE_DIR}/dialogs.rc
    ${CMAKE_CURRENT_SOURCE_DIR}/strings.rc
    ${CMAKE_CURRENT_SOURCE_DIR}/licence.rc
    ${CMAKE_CURRENT_SOURCE_DIR}/art/welcome.bmp
    ${CMAKE_CURRENT_SOURCE_DIR}/art/header.bmp
    ${CMAKE_CURRENT_SOURCE_DIR}/art/setup.ico
    ${CMAKE_CURRENT_SOURCE_DIR}/setup.manifest
    CACHE INTERNAL "Files that setup.rc depends on through ui.rc")

  add_library(tl_ui_resources OBJECT ui.rc)
  target_link_libraries(tl_ui_resources PUBLIC tl_resource_includes)
  set_source_files_properties(ui.rc PROPERTIES OBJECT_DEPENDS "${TL_UI_RESOURCE_FILES}")
endif()

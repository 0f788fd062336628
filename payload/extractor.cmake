# File extractor: the Win32 side of the payload (resources, files, zlib, versions).
if(TL_WINDOWS)
  add_library(tl_payload STATIC ${CMAKE_CURRENT_LIST_DIR}/file_extractor.cpp ${CMAKE_CURRENT_LIST_DIR}/payload_check.cpp)
  target_include_directories(tl_payload PUBLIC ${TL_ROOT})
  # Size before speed here too, as everywhere: the bytes are inflated by zlib
  # (built apart), and what the extractor does per file and per block is
  # system calls. -O2 made it 11 KB larger; at -Os the extractor alone runs
  # well under the plain inflate-and-write loop (make bench).
  target_compile_options(tl_payload PRIVATE -Wall -Wextra)
  target_link_libraries(tl_payload PUBLIC tl_pure tl_strings tl_zlib tl_dll_search tl_platform shell32 advapi32)
  target_link_libraries(tl_app INTERFACE tl_payload)
endif()

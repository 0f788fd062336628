# Shared build settings and helper functions for both trees.
#
#   TL_WINDOWS            true in the cross (mingw-w64) tree
#   tl_module(NAME [PURE ...] [WINDOWS ...] [DEPENDS ...] [WINDOWS_DEPENDS ...])
#       one module's static library, its sources listed and what it uses
#       named: PURE sources (no <windows.h>) are built by every tree, WINDOWS
#       sources by the cross trees only. DEPENDS names modules whose pure part
#       this one's pure part uses (both trees); WINDOWS_DEPENDS names what the
#       Windows part uses besides (modules, system libraries). In the host tree
#       a module with a pure part also gets NAME_san: the same sources under
#       ASan/UBSan, linked with the DEPENDS modules' _san libraries.
#   tl_host_test(NAME SOURCES ... [LIBS ...] [LABELS ...])   (LIBS: modules
#       are linked as their _san libraries)
#   tl_wine_test(NAME SOURCES ... [LIBS ...] [LABELS ...] [TIMEOUT s] [GUI])
#   tl_fuzz_target(NAME SOURCES ... [LIBS ...] [SECONDS s] [DICT file])

if(CMAKE_SYSTEM_NAME STREQUAL "Windows")
  set(TL_WINDOWS TRUE)
else()
  set(TL_WINDOWS FALSE)
endif()

if(TL_WINDOWS)
  # Size before speed (the installer is downloaded; its UI waits on the user),
  # each function and datum in a section of its own so the link drops what
  # nothing calls. The bytes installed are inflated by zlib, which comes built
  # with -O2; the code around it spends its time in system calls. Full debug
  # information (-g) for the .debug files beside
  # what ships (cmake/TLShip.cmake), naming sources and build folder by fixed
  # names, so that two builds in two folders give the same bytes. The build
  # folder's map comes last: GCC takes the last one that matches, and the build
  # folder may lie inside the source tree.
  add_compile_options(
    "$<$<COMPILE_LANGUAGE:C,CXX>:-Os;-g;-ffunction-sections;-fdata-sections>"
    "$<$<COMPILE_LANGUAGE:C,CXX>:-ffile-prefix-map=${TL_ROOT}=/towerlink;-ffile-prefix-map=${CMAKE_BINARY_DIR}=/towerlink-build>")
  add_link_options(-Wl,--gc-sections)
  if(CMAKE_SYSTEM_PROCESSOR STREQUAL "i686")
    # Windows XP is NT 5.1: a program whose header asks for a later subsystem
    # or system version does not start there.
    add_link_options(-Wl,--major-subsystem-version,5,--minor-subsystem-version,1
                     -Wl,--major-os-version,5,--minor-os-version,1)
  endif()
endif()

# What ships is built without exceptions: the modules and the programs that
# ship report every failure by their result, and ask for memory that may be
# missing with std::nothrow (the shipped programs' allocation functions:
# platform/ship_runtime.cpp). The i686 programs then need no unwind tables
# either; the x86_64 tree keeps its SEH tables, which Windows itself reads.
# Test and benchmark programs keep exceptions (GoogleTest); no exception
# passes through the modules' frames.
set(TL_PRODUCT_FLAGS -fno-exceptions)
if(TL_WINDOWS AND CMAKE_SYSTEM_PROCESSOR STREQUAL "i686")
  list(APPEND TL_PRODUCT_FLAGS -fno-asynchronous-unwind-tables)
endif()

set(TL_SAN_FLAGS -fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)

if(NOT TL_WINDOWS)
  find_package(ZLIB REQUIRED)
  find_package(Threads REQUIRED)
endif()

function(tl_module name)
  cmake_parse_arguments(M "" "" "PURE;WINDOWS;DEPENDS;WINDOWS_DEPENDS" ${ARGN})
  if(TL_WINDOWS)
    set(sources ${M_PURE} ${M_WINDOWS})
  else()
    set(sources ${M_PURE})
  endif()
  if(NOT sources)
    return()
  endif()
  add_library(${name} STATIC ${sources})
  target_include_directories(${name} PUBLIC ${TL_ROOT})
  target_compile_options(${name} PRIVATE -Wall -Wextra ${TL_PRODUCT_FLAGS})
  target_link_libraries(${name} PUBLIC ${M_DEPENDS})
  if(TL_WINDOWS)
    target_link_libraries(${name} PUBLIC ${M_WINDOWS_DEPENDS})
  else()
    set(san_depends)
    foreach(d ${M_DEPENDS})
      list(APPEND san_depends ${d}_san)
    endforeach()
    add_library(${name}_san STATIC ${M_PURE})
    target_include_directories(${name}_san PUBLIC ${TL_ROOT})
    target_compile_options(${name}_san PRIVATE -Wall -Wextra ${TL_PRODUCT_FLAGS})
    target_compile_options(${name}_san PUBLIC ${TL_SAN_FLAGS} -g)
    target_link_options(${name}_san PUBLIC ${TL_SAN_FLAGS})
    target_link_libraries(${name}_san PUBLIC ${san_depends})
  endif()
endfunction()

# The sanitized twins of the modules among libs (host tree).
function(_tl_san_libs out)
  set(libs)
  foreach(l ${ARGN})
    if(TARGET ${l}_san)
      list(APPEND libs ${l}_san)
    else()
      list(APPEND libs ${l})
    endif()
  endforeach()
  set(${out} ${libs} PARENT_SCOPE)
endfunction()

if(TL_WINDOWS)
  # Static everything: setup.exe may import only system DLLs.
  set(TL_WIN_LINK_FLAGS -static -static-libgcc -static-libstdc++)
  set(TL_ZLIB_STATIC /usr/${TOOLCHAIN_PREFIX}/lib/libz.a)
  if(NOT EXISTS ${TL_ZLIB_STATIC})
    message(FATAL_ERROR "static zlib for mingw-w64 missing: ${TL_ZLIB_STATIC} (package libz-mingw-w64-dev)")
  endif()
  add_library(tl_zlib STATIC IMPORTED GLOBAL)
  set_target_properties(tl_zlib PROPERTIES IMPORTED_LOCATION ${TL_ZLIB_STATIC})

  # Every Windows executable, tests included, is linked statically.
  add_link_options(${TL_WIN_LINK_FLAGS})

  add_compile_definitions(WINVER=0x0600 _WIN32_WINNT=0x0600 _WIN32_IE=0x0600 NOMINMAX WIN32_LEAN_AND_MEAN STRICT)

  # Wine runs the Windows tests; the generated wrapper carries this tree's prefix
  # and the Wine loader that matches the tree (wine for i686, wine64 for x86_64).
  set(TL_WINEPREFIX ${CMAKE_BINARY_DIR}/wineprefix)
  if(CMAKE_SYSTEM_PROCESSOR STREQUAL "x86_64")
    set(TL_WINE_LOADER /usr/lib/wine/wine64)
    set(TL_WINEARCH win64 CACHE INTERNAL "Wine architecture of this tree")
  else()
    set(TL_WINE_LOADER wine)
    set(TL_WINEARCH win32 CACHE INTERNAL "Wine architecture of this tree")
  endif()
  configure_file(${TL_ROOT}/scripts/wine-run.sh.in ${CMAKE_BINARY_DIR}/wine-run.sh @ONLY
                 FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_BINARY_DIR}/wine-run.sh)
  set(TL_WINE_RUN ${CMAKE_BINARY_DIR}/wine-run.sh)

  # One Wine session for the whole test run.
  add_test(NAME wine_session_start COMMAND ${TL_ROOT}/scripts/wine-session.sh start ${TL_WINEPREFIX} ${TL_WINEARCH})
  add_test(NAME wine_session_stop COMMAND ${TL_ROOT}/scripts/wine-session.sh stop ${TL_WINEPREFIX} ${TL_WINEARCH})
  set_tests_properties(wine_session_start PROPERTIES FIXTURES_SETUP wine_session LABELS "wine")
  set_tests_properties(wine_session_stop PROPERTIES FIXTURES_CLEANUP wine_session LABELS "wine")
endif()

# A gtest program passes only when it printed its PASSED summary and no FAILED
# line: a crash that Wine reports with exit status 0 (an exception swallowed in a
# window callback) must still fail the test.
set(TL_GTEST_PASS "\\[  PASSED  \\] [0-9]+ test")

# The time limits of the slow Wine tests (end to end, round trips) are for a
# machine that runs the tree's programs itself; make test-i686-emulated, where
# qemu-user runs them, raises this factor (and stretches the tests' own waits
# by it through the environment variable of the same name).
set(TL_TEST_TIME_FACTOR 1 CACHE STRING "Multiplies the time limit of the end-to-end and round-trip tests")
math(EXPR TL_SLOW_TEST_TIMEOUT "300 * ${TL_TEST_TIME_FACTOR}")
set(TL_GTEST_FAIL "\\[  FAILED  \\]")

function(tl_host_test name)
  if(TL_WINDOWS)
    return()
  endif()
  cmake_parse_arguments(T "" "" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  _tl_san_libs(libs ${T_LIBS})
  target_include_directories(${name} PRIVATE ${TL_ROOT})
  target_link_libraries(${name} PRIVATE ${libs} gtest_main)
  target_compile_options(${name} PRIVATE ${TL_SAN_FLAGS} -g)
  target_link_options(${name} PRIVATE ${TL_SAN_FLAGS})
  add_test(NAME ${name} COMMAND ${name})
  set_tests_properties(${name} PROPERTIES LABELS "host;${T_LABELS}"
    PASS_REGULAR_EXPRESSION "${TL_GTEST_PASS}" FAIL_REGULAR_EXPRESSION "${TL_GTEST_FAIL}"
    ENVIRONMENT "ASAN_OPTIONS=detect_leaks=1;UBSAN_OPTIONS=print_stacktrace=1")
endfunction()

function(tl_wine_test name)
  if(NOT TL_WINDOWS)
    return()
  endif()
  cmake_parse_arguments(T "GUI" "TIMEOUT" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE gtest_main ${T_LIBS})
  target_include_directories(${name} PRIVATE ${TL_ROOT})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  add_test(NAME ${name} COMMAND ${name})
  set_tests_properties(${name} PROPERTIES LABELS "wine;${T_LABELS}" TIMEOUT ${T_TIMEOUT}
    PASS_REGULAR_EXPRESSION "${TL_GTEST_PASS}" FAIL_REGULAR_EXPRESSION "${TL_GTEST_FAIL}"
    FIXTURES_REQUIRED wine_session WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
endfunction()

function(tl_fuzz_target name)
  if(TL_WINDOWS OR NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    return()
  endif()
  cmake_parse_arguments(T "" "SECONDS;DICT" "SOURCES;LIBS" ${ARGN})
  if(NOT T_SECONDS)
    set(T_SECONDS 20)
  endif()
  add_executable(${name} ${T_SOURCES})
  _tl_san_libs(libs ${T_LIBS})
  target_include_directories(${name} PRIVATE ${TL_ROOT})
  target_link_libraries(${name} PRIVATE ${libs})
  target_compile_options(${name} PRIVATE -fsanitize=fuzzer ${TL_SAN_FLAGS} -g)
  target_link_options(${name} PRIVATE -fsanitize=fuzzer ${TL_SAN_FLAGS})
  set(corpus ${CMAKE_BINARY_DIR}/fuzz-corpus/${name})
  file(MAKE_DIRECTORY ${corpus})
  set(seeds ${CMAKE_CURRENT_SOURCE_DIR}/corpus/${name})
  set(args -max_total_time=${T_SECONDS} -timeout=10 -rss_limit_mb=2048 -print_final_stats=1)
  if(T_DICT)
    list(APPEND args -dict=${T_DICT})
  endif()
  if(EXISTS ${seeds})
    add_test(NAME ${name} COMMAND ${name} ${args} ${corpus} ${seeds})
  else()
    add_test(NAME ${name} COMMAND ${name} ${args} ${corpus})
  endif()
  math(EXPR timeout "${T_SECONDS} + 120")
  set_tests_properties(${name} PROPERTIES LABELS "host;fuzz" TIMEOUT ${timeout})
  set_property(GLOBAL APPEND PROPERTY TL_FUZZ_TARGETS ${name})
endfunction()

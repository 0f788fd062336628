# What ships (setup.exe and every installer, tluninstall.exe, the sample
# programs and modules) leaves the link stripped, with its debug information
# beside it in NAME.debug, and with the build's time stamp (cmake/ship_binary.py).
# Test programs keep their symbols.
#
#   tl_ship_binary(<target> [RUNTIME])
#       RUNTIME: a C++ program (the static C++ runtime and its threads).
#
# The cross trees compile everything with -g for that reason, and with size
# before speed.

if(NOT TL_WINDOWS)
  function(tl_ship_binary)
  endfunction()
  return()
endif()

find_package(Python3 REQUIRED COMPONENTS Interpreter)
find_program(TL_OBJCOPY ${TOOLCHAIN_PREFIX}-objcopy REQUIRED)
find_program(TL_STRIP ${TOOLCHAIN_PREFIX}-strip REQUIRED)

function(tl_ship_binary target)
  cmake_parse_arguments(S "RUNTIME" "" "" ${ARGN})
  if(S_RUNTIME)
    # A C++ program: what of the static C++ runtime it must not carry (an
    # import XP lacks, the demangler, a second string type) is replaced here.
    # Built without exceptions, as the modules it links (cmake/TLCommon.cmake).
    target_sources(${target} PRIVATE ${TL_ROOT}/platform/ship_runtime.cpp)
    target_compile_options(${target} PRIVATE ${TL_PRODUCT_FLAGS})
    target_include_directories(${target} PRIVATE ${TL_ROOT})
  endif()
  # Every stamp the link would write is 0; ship_binary.py sets the header's.
  target_link_options(${target} PRIVATE -Wl,--no-insert-timestamp)
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND Python3::Interpreter ${TL_ROOT}/cmake/ship_binary.py --objcopy ${TL_OBJCOPY} --strip ${TL_STRIP}
            --source ${TL_ROOT} $<TARGET_FILE:${target}>
    COMMENT "Stripping ${target}, its debug information beside it (.debug)"
    VERBATIM)
endfunction()

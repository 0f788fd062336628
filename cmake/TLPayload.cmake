# Payload helpers for the cross trees. The packer is the host tree's command
# (tools/packer/tlpack); the Makefile passes its path as TL_PACKER, and builds
# the host tree before any cross tree. In the host tree the functions do nothing.
#
#   tl_pack_payload(<outdir-var> TREE <dir> [CHUNK_SIZE n] [DEPENDS ...] [NAME id])
#       runs the packer on <dir> into ${CMAKE_CURRENT_BINARY_DIR}/payload-<id>
#       (catalogue.bin, chunk0001.bin ..., payload.rc, properties.txt) through
#       the custom target tl_payload_<id>; sets <outdir-var> to that folder.
#       DEPENDS names what produces the tree when the build makes it; without
#       DEPENDS the tree's files, as found at configure time, are the inputs.
#   tl_add_payload_dll(<target> TREE <dir> [CHUNK_SIZE n] [DEPENDS ...])
#       a resource-only DLL <target>.dll holding that payload (no code, no entry
#       point), for tests that read a payload through FindResourceA and friends.
#   tl_add_installer(<target> TREE <dir> [OUTPUT_NAME name] [CHUNK_SIZE n] [DEPENDS ...])
#       a setup program: wizard/main.cpp and resources/setup.rc with that
#       payload, linked as a GUI program with tl_setup_program (wizard/) and the static runtime,
#       and made ready to ship (tl_ship_binary: stripped, <name>.debug beside it).

set(TL_PACKER "" CACHE FILEPATH "The host tree's payload packer (tools/packer/tlpack)")

function(tl_pack_payload outvar)
  if(NOT TL_WINDOWS)
    return()
  endif()
  cmake_parse_arguments(P "" "TREE;CHUNK_SIZE;NAME" "DEPENDS" ${ARGN})
  if(NOT P_TREE)
    message(FATAL_ERROR "tl_pack_payload: TREE is required")
  endif()
  if(NOT TL_PACKER)
    message(FATAL_ERROR "TL_PACKER is not set: configure this tree with "
                        "-DTL_PACKER=<host tree>/tools/packer/tlpack (the Makefile does)")
  endif()
  if(NOT P_NAME)
    get_filename_component(P_NAME ${P_TREE} NAME)
    string(MAKE_C_IDENTIFIER ${P_NAME} P_NAME)
  endif()
  set(outdir ${CMAKE_CURRENT_BINARY_DIR}/payload-${P_NAME})
  set(options --quiet)
  if(P_CHUNK_SIZE)
    list(APPEND options --chunk-size ${P_CHUNK_SIZE})
  endif()
  set(inputs ${P_DEPENDS})
  if(NOT P_DEPENDS AND IS_DIRECTORY ${P_TREE})
    file(GLOB_RECURSE tree_files CONFIGURE_DEPENDS LIST_DIRECTORIES false ${P_TREE}/*)
    # make cannot name every file (a trailing space, a colon): those are left
    # out of the inputs, and the packer, which refuses such names, says so.
    foreach(f ${tree_files})
      if(f MATCHES "^[A-Za-z0-9_./+ -]*[A-Za-z0-9_./+-]$")
        list(APPEND inputs ${f})
      endif()
    endforeach()
  endif()
  # Both cores compress; the packer's output does not depend on how many.
  add_custom_command(
    OUTPUT ${outdir}/payload.rc ${outdir}/catalogue.bin
    COMMAND ${TL_PACKER} ${options} --jobs 2 ${P_TREE} ${outdir}
    DEPENDS ${TL_PACKER} ${inputs}
    COMMENT "Packing the payload of ${P_TREE}"
    VERBATIM)
  add_custom_target(tl_payload_${P_NAME} DEPENDS ${outdir}/payload.rc ${outdir}/catalogue.bin)
  set(${outvar} ${outdir} PARENT_SCOPE)
endfunction()

# Compiles rc_file (which includes payload.rc) for target with the payload
# folder on the include path; the resource object is rebuilt whenever the
# packer rewrites the payload.
function(_tl_attach_payload target rc_file payload_dir)
  target_include_directories(${target} PRIVATE ${payload_dir})
  set_property(SOURCE ${rc_file} APPEND PROPERTY OBJECT_DEPENDS ${payload_dir}/payload.rc ${payload_dir}/catalogue.bin)
  add_dependencies(${target} tl_payload_${target})
endfunction()

function(tl_add_payload_dll target)
  if(NOT TL_WINDOWS)
    return()
  endif()
  cmake_parse_arguments(D "" "TREE;CHUNK_SIZE" "DEPENDS" ${ARGN})
  tl_pack_payload(dir TREE ${D_TREE} CHUNK_SIZE ${D_CHUNK_SIZE} DEPENDS ${D_DEPENDS} NAME ${target})
  set(rc ${CMAKE_CURRENT_BINARY_DIR}/${target}.rc)
  file(CONFIGURE OUTPUT ${rc} CONTENT "// Resource-only module: the payload of ${D_TREE}.\n#include \"payload.rc\"\n")
  add_library(${target} SHARED ${rc})
  set_target_properties(${target} PROPERTIES PREFIX "" LINKER_LANGUAGE C)
  # Nothing to run: no C runtime, entry point 0; no time stamp, so equal
  # payloads give equal modules.
  target_link_options(${target} PRIVATE -nostdlib -Wl,-e,0 -Wl,--no-insert-timestamp)
  _tl_attach_payload(${target} ${rc} ${dir})
endfunction()

function(tl_add_installer target)
  if(NOT TL_WINDOWS)
    return()
  endif()
  cmake_parse_arguments(I "" "TREE;OUTPUT_NAME;CHUNK_SIZE" "DEPENDS" ${ARGN})
  tl_pack_payload(dir TREE ${I_TREE} CHUNK_SIZE ${I_CHUNK_SIZE} DEPENDS ${I_DEPENDS} NAME ${target})
  # setup.rc is shared by every installer target; a small per-target script
  # includes it, so each target's resource object has its own payload on its
  # include path and its own dependency on that payload.
  set(rc ${CMAKE_CURRENT_BINARY_DIR}/${target}_resources.rc)
  file(CONFIGURE OUTPUT ${rc} CONTENT "// Resources of ${target}: the installer's own with the payload of ${I_TREE}.\n#include \"${TL_ROOT}/resources/setup.rc\"\n")
  add_executable(${target} WIN32 ${TL_ROOT}/wizard/main.cpp ${rc})
  target_include_directories(${target} PRIVATE ${TL_ROOT} ${TL_ROOT}/resources)
  target_link_libraries(${target} PRIVATE tl_setup_program)
  tl_ship_binary(${target} RUNTIME)
  set_property(SOURCE ${rc} APPEND PROPERTY OBJECT_DEPENDS ${TL_ROOT}/resources/setup.rc ${TL_UI_RESOURCE_FILES})
  if(I_OUTPUT_NAME)
    set_target_properties(${target} PROPERTIES OUTPUT_NAME ${I_OUTPUT_NAME})
  endif()
  _tl_attach_payload(${target} ${rc} ${dir})
endfunction()

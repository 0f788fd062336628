# The sample product tree and the sample installer `setup` (setup.exe at the
# top of each cross tree). The tree holds every file name the installer asks
# for, as real small files of their kind, built with this tree's compiler:
#   tl/tl      towerlink_fs.exe, towerlink_fsx.exe, tlimage.dll, simconnect.msi,
#              data tables, sound/*.wav
#   tl/global  readme.txt, towerlink_eula.txt, towerlink.ico, tluninstall.exe
#   tl/fs      tlaicontrol10.dll, tlmod10.dll, tltrans10.dll
#   fs/modules fsuipc.dll (3.9.9.0), tlmod8/9.dll, tlmpjoin9.dll, tltrans8/9.dll
#   fs/aircraft/towerlink/..., fs/aircraft/vip/...  (aircraft.cfg, model, texture, panel)
# With TL_CUSTOM_PAYLOAD set, `setup_custom` is the same program around that
# tree instead (scripts/installer.sh uses it).
if(NOT TL_WINDOWS)
  return()
endif()
if(NOT TL_PACKER)
  message(WARNING "TL_PACKER is not set: no sample installer in this tree")
  return()
endif()

find_package(Python3 REQUIRED COMPONENTS Interpreter)
find_program(TL_WIXL wixl REQUIRED)

set(TL_SAMPLE_TREE ${CMAKE_BINARY_DIR}/sample-tree CACHE INTERNAL "The generated sample product tree")
set(gen ${CMAKE_CURRENT_BINARY_DIR}/gen)
set(make_tree ${CMAKE_CURRENT_SOURCE_DIR}/make_tree.py)
# Every program and module of the tree ships as it would from the vendor:
# stripped, its debug information beside it in bin/NAME.debug (not in the
# tree), with the build's time stamp (tl_ship_binary), so the tree's bytes repeat.

add_custom_command(
  OUTPUT ${gen}/towerlink.ico ${gen}/tlimage0.ico ${gen}/tlimage1.ico
  COMMAND Python3::Interpreter ${make_tree} icons ${gen}
  DEPENDS ${make_tree}
  COMMENT "Drawing the sample icons" VERBATIM)
add_custom_target(sample_icons DEPENDS ${gen}/towerlink.ico ${gen}/tlimage0.ico ${gen}/tlimage1.ico)

if(CMAKE_SYSTEM_PROCESSOR STREQUAL "x86_64")
  set(msi_arch x64)
else()
  set(msi_arch x86)
endif()
add_custom_command(
  OUTPUT ${gen}/simconnect.msi
  COMMAND Python3::Interpreter ${make_tree} msi --wixl ${TL_WIXL} --arch ${msi_arch}
          --wxs ${CMAKE_CURRENT_SOURCE_DIR}/simconnect/simconnect.wxs
          --source ${CMAKE_CURRENT_SOURCE_DIR}/simconnect/SimConnectSample.txt --out ${gen}/simconnect.msi
  DEPENDS ${make_tree} ${CMAKE_CURRENT_SOURCE_DIR}/simconnect/simconnect.wxs
          ${CMAKE_CURRENT_SOURCE_DIR}/simconnect/SimConnectSample.txt
  COMMENT "Building the sample SimConnect package" VERBATIM)

set(sample_puts)
set(sample_bins)
set(sample_targets)

# tl_sample_put(<dest under the tree> <target>)
macro(tl_sample_put dest target)
  list(APPEND sample_puts --put ${dest}=$<TARGET_FILE:${target}>)
  list(APPEND sample_bins $<TARGET_FILE:${target}>)
  list(APPEND sample_targets ${target})
endmacro()

# The resource compiler's preprocessor runs through a shell that splits
# quoted defines at spaces, so each binary's texts come from a header of its own.
function(tl_sample_version_header target version company product description title)
  string(REPLACE "," "." version_text ${version})
  set(dir ${CMAKE_CURRENT_BINARY_DIR}/version-${target})
  file(CONFIGURE OUTPUT ${dir}/sample_version.h CONTENT "#define TL_VERSION ${version}
#define TL_VERSION_TEXT \"${version_text}\"
#define TL_COMPANY \"${company}\"
#define TL_PRODUCT \"${product}\"
#define TL_DESCRIPTION \"${description}\"
#define TL_PROGRAM_TITLE \"${title}\"
")
  target_include_directories(${target} PRIVATE ${dir})
endfunction()

function(tl_sample_program target output title description)
  add_executable(${target} WIN32 programs/towerlink.c programs/program.rc)
  set_target_properties(${target} PROPERTIES OUTPUT_NAME ${output} RUNTIME_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/bin)
  tl_sample_version_header(${target} 3,4,0,1 "Brightfold Labs" "TowerLink" "${description}" "${title}")
  target_include_directories(${target} PRIVATE ${gen})
  tl_ship_binary(${target})
  add_dependencies(${target} sample_icons)
  set_property(SOURCE programs/program.rc APPEND PROPERTY OBJECT_DEPENDS ${gen}/towerlink.ico)
endfunction()

# tl_sample_module(<target> <output> <a,b,c,d> <company> <product> <description>)
function(tl_sample_module target output version company product description)
  add_library(${target} SHARED modules/module.c modules/module.rc)
  set_target_properties(${target} PROPERTIES PREFIX "" OUTPUT_NAME ${output}
    RUNTIME_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/bin)
  tl_sample_version_header(${target} ${version} "${company}" "${product}" "${description}" "${description}")
  tl_ship_binary(${target})
endfunction()

tl_sample_program(sample_towerlink_fs towerlink_fs "TowerLink for FS2002/FS2004" "TowerLink client for FS2002 and FS2004")
tl_sample_program(sample_towerlink_fsx towerlink_fsx "TowerLink for FSX" "TowerLink client for Flight Simulator X")
tl_sample_put(tl/tl/towerlink_fs.exe sample_towerlink_fs)
tl_sample_put(tl/tl/towerlink_fsx.exe sample_towerlink_fsx)

# The shortcut icon library: resources only.
add_library(sample_tlimage SHARED modules/tlimage.rc)
set_target_properties(sample_tlimage PROPERTIES PREFIX "" OUTPUT_NAME tlimage LINKER_LANGUAGE C
  RUNTIME_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/bin)
target_include_directories(sample_tlimage PRIVATE ${gen})
target_link_options(sample_tlimage PRIVATE -nostdlib -Wl,-e,0)
tl_ship_binary(sample_tlimage)
set_property(SOURCE modules/tlimage.rc APPEND PROPERTY OBJECT_DEPENDS ${gen}/tlimage0.ico ${gen}/tlimage1.ico)
add_dependencies(sample_tlimage sample_icons)
tl_sample_put(tl/tl/tlimage.dll sample_tlimage)

set(tl_company "Brightfold Labs")
foreach(module_row
    "tl/fs/tlaicontrol10.dll|3,4,0,1|TowerLink AI traffic control module for FSX"
    "tl/fs/tlmod10.dll|3,4,0,1|TowerLink module for FSX"
    "tl/fs/tltrans10.dll|3,4,0,1|TowerLink transponder module for FSX"
    "fs/modules/tlmod8.dll|3,4,0,1|TowerLink module for FS2002"
    "fs/modules/tlmod9.dll|3,4,0,1|TowerLink module for FS2004"
    "fs/modules/tlmpjoin9.dll|3,4,0,1|TowerLink multiplayer auto-join module for FS2004"
    "fs/modules/tltrans8.dll|3,4,0,1|TowerLink transponder module for FS2002"
    "fs/modules/tltrans9.dll|3,4,0,1|TowerLink transponder module for FS2004")
  string(REPLACE "|" ";" parts "${module_row}")
  list(GET parts 0 dest)
  list(GET parts 1 version)
  list(GET parts 2 description)
  get_filename_component(output ${dest} NAME_WE)
  tl_sample_module(sample_${output} ${output} ${version} "${tl_company}" "TowerLink" "${description}")
  tl_sample_put(${dest} sample_${output})
endforeach()
# The shared simulator interface module, another vendor's, newer than TowerLink's own.
tl_sample_module(sample_fsuipc fsuipc 3,9,9,0 "Sample Module Vendor" "FSUIPC" "Simulator interface module")
tl_sample_put(fs/modules/fsuipc.dll sample_fsuipc)

if(TARGET tluninstall)
  tl_sample_put(tl/global/tluninstall.exe tluninstall)
else()
  add_executable(sample_tluninstall WIN32 programs/tluninstall.c)
  set_target_properties(sample_tluninstall PROPERTIES OUTPUT_NAME tluninstall
    RUNTIME_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/bin)
  tl_ship_binary(sample_tluninstall)
  tl_sample_put(tl/global/tluninstall.exe sample_tluninstall)
endif()

set(tree_stamp ${CMAKE_CURRENT_BINARY_DIR}/sample-tree.stamp)
add_custom_command(
  OUTPUT ${tree_stamp}
  COMMAND Python3::Interpreter ${make_tree} tree --out ${TL_SAMPLE_TREE} --text ${CMAKE_CURRENT_SOURCE_DIR}/text
          --icons ${gen} --msi ${gen}/simconnect.msi ${sample_puts}
  COMMAND ${CMAKE_COMMAND} -E touch ${tree_stamp}
  DEPENDS ${make_tree} ${sample_bins} ${sample_targets} ${gen}/simconnect.msi ${gen}/towerlink.ico
          ${CMAKE_CURRENT_SOURCE_DIR}/text/readme.txt ${CMAKE_CURRENT_SOURCE_DIR}/text/towerlink_eula.txt
  COMMENT "Assembling the sample product tree" VERBATIM)
add_custom_target(sample_tree DEPENDS ${tree_stamp})
add_dependencies(sample_tree sample_icons ${sample_targets})

tl_add_installer(setup TREE ${TL_SAMPLE_TREE} OUTPUT_NAME setup DEPENDS ${tree_stamp})
set_target_properties(setup PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
add_dependencies(tl_payload_setup sample_tree)
set(TL_SAMPLE_PAYLOAD ${CMAKE_CURRENT_BINARY_DIR}/payload-setup CACHE INTERNAL "The sample installer's payload folder")

set(TL_CUSTOM_PAYLOAD "" CACHE PATH "A product tree for setup_custom (make installer PAYLOAD=...)")
if(TL_CUSTOM_PAYLOAD)
  tl_add_installer(setup_custom TREE ${TL_CUSTOM_PAYLOAD} OUTPUT_NAME setup-custom)
  set_target_properties(setup_custom PROPERTIES EXCLUDE_FROM_ALL TRUE RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
endif()

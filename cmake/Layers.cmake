# The program is built in floors, each a target that links only the floors under it. A floor shows
# its headers to the targets that link it and to no other: its folder is reachable under its usual
# path ("dialog/KT6200DemoDlg.h", "handlers/ufs/hex_field.h") only through a link in the floor's
# own include root. A file that includes a floor its target does not link fails to compile.
function(kt_layer_folder target folder)
  set(root ${CMAKE_BINARY_DIR}/layers/${target})
  get_filename_component(parent ${root}/${folder} DIRECTORY)
  file(MAKE_DIRECTORY ${parent})
  if(NOT IS_SYMLINK ${root}/${folder})
    file(CREATE_LINK ${PROJECT_SOURCE_DIR}/${folder} ${root}/${folder} SYMBOLIC)
  endif()
  get_target_property(type ${target} TYPE)
  if(type STREQUAL "INTERFACE_LIBRARY")
    target_include_directories(${target} INTERFACE ${root})
  else()
    target_include_directories(${target} PUBLIC ${root})
  endif()
endfunction()

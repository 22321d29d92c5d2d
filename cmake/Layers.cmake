# Each library sees the headers of its own folder and of the libraries it links, and no others. Its include
# path is a folder of its own holding one link, named like its source folder, to that folder; a header of a
# layer it does not link is simply not there. So the arrows between the layers are the ones the CMake files
# state, and a wrong one fails to compile:
#     platform <- zip <- settings <- transfer <- desktop (D-Bus) <- cli, app (window, form, folder picker,
#     resources)
function(tovaro_expose target folder)
  set(root ${PROJECT_BINARY_DIR}/include/${target})
  get_filename_component(parent ${root}/${folder} DIRECTORY)
  file(MAKE_DIRECTORY ${parent})
  file(CREATE_LINK ${PROJECT_SOURCE_DIR}/${folder} ${root}/${folder} SYMBOLIC)
  target_include_directories(${target} PUBLIC ${root})
endfunction()

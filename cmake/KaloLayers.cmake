# Every include names its layer from the top of the tree ("core/site/...").
# A target of a layer sees only the layers it may use: its include root is a
# folder of the build tree holding links to those layers and nothing else,
# so a header above it is not found by the compiler (tools/layers checks
# the same by reading the files). Quote-only, so no project folder shadows
# a system header.
#
# kalo_layer_root(TARGET FOLDER...): the folders, from the top of the tree,
# the target's files may name.
function(kalo_layer_root target)
  set(root ${CMAKE_BINARY_DIR}/include-roots/${target})
  file(REMOVE_RECURSE ${root})
  foreach(folder ${ARGN})
    get_filename_component(parent ${root}/${folder} DIRECTORY)
    file(MAKE_DIRECTORY ${parent})
    file(CREATE_LINK ${CMAKE_SOURCE_DIR}/${folder} ${root}/${folder} SYMBOLIC)
  endforeach()
  target_compile_options(${target} PRIVATE "-iquote${root}")
endfunction()

# The layers bottom up, each with those below it.
set(KALO_LAYERS_ASTRONOMY core/astronomy)
set(KALO_LAYERS_STATION ${KALO_LAYERS_ASTRONOMY} core/station)
set(KALO_LAYERS_SITE ${KALO_LAYERS_STATION} core/site)
set(KALO_LAYERS_PLOT ${KALO_LAYERS_SITE} plot)
set(KALO_LAYERS_GUI ${KALO_LAYERS_PLOT} gui)

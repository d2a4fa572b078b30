# The layers of the core and what each may include.
#
#   basics <- numerics <- model <- io <- app <- ui, cli, python
#
# A layer may include its own headers and those of the layers to its left,
# never those to its right. Each layer library gets an include root of its
# own, made here in the build tree, that holds links to the source folders of
# exactly those layers: an #include "io/..." in a model file then finds no
# such file and the build stops. (Qt is kept out the same way it always was:
# no core library links it.)
#
# kelmar_add_layer_root(<layer> <allowed layer>...) makes the root
# ${KELMAR_LAYER_ROOTS}/<layer> and sets KELMAR_<LAYER>_ROOT to it.
set(KELMAR_LAYER_ROOTS ${PROJECT_BINARY_DIR}/layer-roots)

function(kelmar_add_layer_root layer)
  set(root ${KELMAR_LAYER_ROOTS}/${layer})
  file(REMOVE_RECURSE ${root})
  file(MAKE_DIRECTORY ${root})
  foreach(allowed IN LISTS ARGN)
    # A copy where the file system has no links (the copy is made anew at
    # every configure; the links follow edits by themselves).
    file(CREATE_LINK ${PROJECT_SOURCE_DIR}/src/${allowed} ${root}/${allowed} SYMBOLIC COPY_ON_ERROR)
  endforeach()
  string(TOUPPER ${layer} upper)
  set(KELMAR_${upper}_ROOT ${root} PARENT_SCOPE)
endfunction()

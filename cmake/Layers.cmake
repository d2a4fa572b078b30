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

# The fronts (ui, cli, python) reach files only through app: their root
# holds the core layers but of io only its text conventions (numbers and
# values as the files write them, the code page, error locations), which
# are no file access, and the loading of the program's own modules. Any
# other io header is missing there.
set(KELMAR_IO_TEXT_HEADERS number_text.h value_text.h code_page.h read_errors.h line_reader.h path_names.h
    program_module.h)

# kelmar_add_front_root(<name> [<front>]) makes ${KELMAR_LAYER_ROOTS}/<name>
# with the folder of the front <front> if given, and sets KELMAR_<NAME>_ROOT
# to it. Without a front it is what app shows those that use it.
function(kelmar_add_front_root name)
  set(root ${KELMAR_LAYER_ROOTS}/${name})
  file(REMOVE_RECURSE ${root})
  file(MAKE_DIRECTORY ${root}/io)
  foreach(allowed basics numerics model app ${ARGN})
    file(CREATE_LINK ${PROJECT_SOURCE_DIR}/src/${allowed} ${root}/${allowed} SYMBOLIC COPY_ON_ERROR)
  endforeach()
  foreach(header IN LISTS KELMAR_IO_TEXT_HEADERS)
    file(CREATE_LINK ${PROJECT_SOURCE_DIR}/src/io/${header} ${root}/io/${header} SYMBOLIC COPY_ON_ERROR)
  endforeach()
  string(TOUPPER ${name} upper)
  set(KELMAR_${upper}_ROOT ${root} PARENT_SCOPE)
endfunction()

# tapbroker_layer(NAME TYPE [SOURCES ...] [BELOW ...]): the target tapbroker_NAME of the
# folder NAME/, linking the layers BELOW it (their names without tapbroker_). Its include
# directory is a folder of the build tree that holds a link to NAME/ alone, never the
# project's root: a source sees its own folder and the folders of the layers it links, so
# that an include of a layer above it (or beside it) finds no file and the build stops.
function(tapbroker_layer name type)
  cmake_parse_arguments(arg "" "" "SOURCES;BELOW" ${ARGN})
  set(dir ${PROJECT_BINARY_DIR}/layers/${name})
  file(MAKE_DIRECTORY ${dir})
  file(CREATE_LINK ${PROJECT_SOURCE_DIR}/${name} ${dir}/${name} SYMBOLIC)
  set(target tapbroker_${name})
  set(scope PUBLIC)
  if(type STREQUAL "INTERFACE")
    set(scope INTERFACE)
  endif()
  add_library(${target} ${type} ${arg_SOURCES})
  target_include_directories(${target} ${scope} $<BUILD_INTERFACE:${dir}>)
  list(TRANSFORM arg_BELOW PREPEND tapbroker_)
  target_link_libraries(${target} ${scope} ${arg_BELOW})
endfunction()

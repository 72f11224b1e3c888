# Compiles the message catalogue file into msgcore as its built-in default texts.
set(CATALOGUE_FILE ${PROJECT_SOURCE_DIR}/msgcore/tapbrokerclient.msg)
set(CATALOGUE_SOURCE ${PROJECT_BINARY_DIR}/generated/builtin_catalogue.cpp)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${CATALOGUE_FILE})
file(READ ${CATALOGUE_FILE} CATALOGUE_TEXT)
configure_file(${PROJECT_SOURCE_DIR}/cmake/builtin_catalogue.cpp.in ${CATALOGUE_SOURCE} @ONLY)

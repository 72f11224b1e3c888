# The project's compile and link options, set on its own targets only: a project that adds
# this one as a subdirectory keeps its own flags, and its targets get none of ours.
option(TAPBROKER_WERROR "Treat warnings as errors" OFF)
set(TAPBROKER_SANITIZE "" CACHE STRING "Sanitizers to build with, e.g. address,undefined")
# With clang and address,undefined: every target also carries libFuzzer's coverage, so that
# one sanitized tree runs both the suite and the fuzz targets (fuzz/).
option(TAPBROKER_FUZZ "Also build the libFuzzer targets (clang, address,undefined)" OFF)
if(TAPBROKER_FUZZ AND NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
  message(FATAL_ERROR "TAPBROKER_FUZZ needs clang: only clang has libFuzzer")
endif()

# tapbroker_warnings: the options every target of this project compiles and links with.
# Every target defined from here on in this directory and below links it (link_libraries is
# scoped to this project's directories); GoogleTest's sources, which the Windows tests
# build, are added without it.
add_library(tapbroker_warnings INTERFACE)
target_compile_options(tapbroker_warnings INTERFACE -Wall -Wextra
                       $<$<BOOL:${TAPBROKER_WERROR}>:-Werror>)
if(TAPBROKER_SANITIZE)
  # clang 14 cannot emit its function-type check for the broker's coroutines; GCC's
  # undefined-behaviour sanitizer has no such check at all.
  target_compile_options(tapbroker_warnings INTERFACE -fsanitize=${TAPBROKER_SANITIZE}
                         -fno-omit-frame-pointer -fno-sanitize-recover=all
                         $<$<CXX_COMPILER_ID:Clang>:-fno-sanitize=function>)
  target_link_options(tapbroker_warnings INTERFACE -fsanitize=${TAPBROKER_SANITIZE})
endif()
if(TAPBROKER_FUZZ)
  target_compile_options(tapbroker_warnings INTERFACE -fsanitize=fuzzer-no-link)
endif()
if(WIN32)
  # The MinGW runtime goes into every binary, so that the DLL and the programs need
  # nothing beside them but Windows itself.
  target_link_options(tapbroker_warnings INTERFACE -static -static-libgcc -static-libstdc++)
endif()
link_libraries($<BUILD_INTERFACE:tapbroker_warnings>)  # not part of the installed package

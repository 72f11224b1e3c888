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

# tapbroker_target_options(DIR): the options on every target defined in DIR and below that
# compiles this project's sources (not the GoogleTest sources the Windows tests build).
function(tapbroker_target_options dir)
  get_property(subdirs DIRECTORY ${dir} PROPERTY SUBDIRECTORIES)
  foreach(subdir IN LISTS subdirs)
    tapbroker_target_options(${subdir})
  endforeach()
  cmake_path(IS_PREFIX PROJECT_SOURCE_DIR ${dir} NORMALIZE ours)
  if(NOT ours)
    return()
  endif()
  get_property(targets DIRECTORY ${dir} PROPERTY BUILDSYSTEM_TARGETS)
  foreach(target IN LISTS targets)
    get_target_property(type ${target} TYPE)
    if(type STREQUAL "INTERFACE_LIBRARY" OR type STREQUAL "UTILITY")
      continue()
    endif()
    target_compile_options(${target} PRIVATE -Wall -Wextra
                           $<$<BOOL:${TAPBROKER_WERROR}>:-Werror>)
    if(TAPBROKER_SANITIZE)
      # clang 14 cannot emit its function-type check for the broker's coroutines; GCC's
      # undefined-behaviour sanitizer has no such check at all.
      target_compile_options(${target} PRIVATE -fsanitize=${TAPBROKER_SANITIZE}
                             -fno-omit-frame-pointer -fno-sanitize-recover=all
                             $<$<CXX_COMPILER_ID:Clang>:-fno-sanitize=function>)
      target_link_options(${target} PRIVATE -fsanitize=${TAPBROKER_SANITIZE})
    endif()
    if(TAPBROKER_FUZZ)
      target_compile_options(${target} PRIVATE -fsanitize=fuzzer-no-link)
    endif()
    if(WIN32 AND NOT type STREQUAL "STATIC_LIBRARY" AND NOT type STREQUAL "OBJECT_LIBRARY")
      # The MinGW runtime goes into every binary, so that the DLL and the programs need
      # nothing beside them but Windows itself.
      target_link_options(${target} PRIVATE -static -static-libgcc -static-libstdc++)
    endif()
  endforeach()
endfunction()

# Asio, nlohmann-json and CLI11: header-only libraries from Debian's packages, for the broker
# and the tool. A native build finds them where Debian puts them; a cross build cannot look
# in /usr/include (the host's C library lies there too), so it gets a directory that holds
# these headers alone, behind targets of the same names.
if(CMAKE_CROSSCOMPILING)
  set(header_dir ${PROJECT_BINARY_DIR}/header-libraries)
  file(MAKE_DIRECTORY ${header_dir})
  foreach(entry asio asio.hpp nlohmann CLI)
    if(NOT EXISTS /usr/include/${entry})
      message(FATAL_ERROR "/usr/include/${entry} is missing: scripts/install-deps.sh installs it")
    endif()
    if(NOT EXISTS ${header_dir}/${entry})
      file(CREATE_LINK /usr/include/${entry} ${header_dir}/${entry} SYMBOLIC)
    endif()
  endforeach()
  foreach(target nlohmann_json::nlohmann_json CLI11::CLI11 asio::asio)
    add_library(${target} INTERFACE IMPORTED)
    set_target_properties(${target} PROPERTIES INTERFACE_INCLUDE_DIRECTORIES ${header_dir})
  endforeach()
else()
  find_package(nlohmann_json 3 REQUIRED)
  find_package(CLI11 REQUIRED)
  # Asio comes without a CMake package of its own.
  find_path(ASIO_INCLUDE_DIR asio.hpp REQUIRED)
  add_library(asio::asio INTERFACE IMPORTED)
  set_target_properties(asio::asio PROPERTIES INTERFACE_INCLUDE_DIRECTORIES ${ASIO_INCLUDE_DIR})
endif()
# Asio decides whether to use aligned_alloc from macros of the C++ library, which are not yet
# defined in a file that includes Asio first: files would disagree on how its memory is
# allocated and freed, so the choice is made once for all.
set_property(TARGET asio::asio APPEND PROPERTY INTERFACE_COMPILE_DEFINITIONS
             ASIO_STANDALONE ASIO_NO_DEPRECATED ASIO_DISABLE_STD_ALIGNED_ALLOC)
if(WIN32)
  # Asio's sockets: Winsock and its extensions, from Windows 10 on.
  set_property(TARGET asio::asio APPEND PROPERTY INTERFACE_LINK_LIBRARIES ws2_32 mswsock)
  set_property(TARGET asio::asio APPEND PROPERTY INTERFACE_COMPILE_DEFINITIONS _WIN32_WINNT=0x0A00)
endif()
if(CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
  # Asio looks for clang's coroutines in <experimental/coroutine>, which GCC's standard
  # library (the one clang uses here) does not have: its <coroutine> serves clang as well.
  set_property(TARGET asio::asio APPEND PROPERTY INTERFACE_COMPILE_DEFINITIONS
               ASIO_HAS_CO_AWAIT=1 ASIO_HAS_STD_COROUTINE=1)
endif()

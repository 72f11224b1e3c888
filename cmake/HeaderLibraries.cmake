# Asio, nlohmann-json and CLI11: header-only libraries from Debian's packages, used by the
# broker and the tool. A native build finds them in /usr/include; a cross build cannot put
# /usr/include on its path (the host's C library lies there too), so it gets a directory of
# its own that holds these headers alone.
add_library(tapbroker_header_libraries INTERFACE)
foreach(header asio.hpp nlohmann/json.hpp CLI/CLI.hpp)
  if(NOT EXISTS /usr/include/${header})
    message(FATAL_ERROR "/usr/include/${header} is missing: scripts/install-deps.sh installs it")
  endif()
endforeach()
if(CMAKE_CROSSCOMPILING)
  set(header_dir ${PROJECT_BINARY_DIR}/header-libraries)
  file(MAKE_DIRECTORY ${header_dir})
  foreach(entry asio asio.hpp nlohmann CLI)
    if(NOT EXISTS ${header_dir}/${entry})
      file(CREATE_LINK /usr/include/${entry} ${header_dir}/${entry} SYMBOLIC)
    endif()
  endforeach()
  target_include_directories(tapbroker_header_libraries SYSTEM INTERFACE ${header_dir})
endif()
if(WIN32)
  # Asio's sockets: Winsock and its extensions.
  target_link_libraries(tapbroker_header_libraries INTERFACE ws2_32 mswsock)
  target_compile_definitions(tapbroker_header_libraries INTERFACE _WIN32_WINNT=0x0A00)
endif()

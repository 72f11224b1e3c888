# Installation: the header, the shared library (with its SONAME links; on Windows the DLL in
# bin/ and its import library in lib/), the broker and the command-line tool side by side
# in bin/ (so that Connect finds and starts the broker), the message catalogue, the docs, the
# licence and the changelog, a CMake package and (not on Windows) a pkg-config file. The
# package: a Debian package, or on Windows one zip to unzip anywhere.
# Libraries go to lib/ whatever the distribution convention, as the pkg-config file says.
set(CMAKE_INSTALL_LIBDIR lib)
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

# Programs installed in bin/ find the library in ../lib.
set_target_properties(tapbroker_client PROPERTIES INSTALL_RPATH "$ORIGIN")
foreach(program tapbroker.exe tapclient)
  if(TARGET ${program})
    set_target_properties(${program} PROPERTIES INSTALL_RPATH "$ORIGIN/../${CMAKE_INSTALL_LIBDIR}")
    install(TARGETS ${program} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  endif()
endforeach()

install(TARGETS tapbroker_client EXPORT tapbroker_client_targets
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
        INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(FILES include/tapbroker_client.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
# The texts are built into the library; this copy is the one a site edits and names with
# MSGCORE_PATH. On Windows it lies beside the DLL, where everything of the zip's user is.
if(WIN32)
  install(FILES msgcore/tapbrokerclient.msg DESTINATION ${CMAKE_INSTALL_BINDIR})
else()
  install(FILES msgcore/tapbrokerclient.msg DESTINATION ${CMAKE_INSTALL_DATADIR}/tapbroker_client)
endif()
# A Windows user finds the README, the licence and the changelog at the top of the zip.
if(WIN32)
  install(FILES README.md LICENSE CHANGELOG.md DESTINATION .)
  install(DIRECTORY docs/ DESTINATION docs FILES_MATCHING PATTERN "*.md")
else()
  install(FILES README.md LICENSE CHANGELOG.md DESTINATION ${CMAKE_INSTALL_DOCDIR})
  install(DIRECTORY docs/ DESTINATION ${CMAKE_INSTALL_DOCDIR} FILES_MATCHING PATTERN "*.md")
endif()

set(config_dir ${CMAKE_INSTALL_LIBDIR}/cmake/tapbroker_client)
install(EXPORT tapbroker_client_targets NAMESPACE tapbroker_client::
        FILE tapbroker_clientTargets.cmake DESTINATION ${config_dir})
configure_package_config_file(cmake/tapbroker_clientConfig.cmake.in
  ${PROJECT_BINARY_DIR}/tapbroker_clientConfig.cmake INSTALL_DESTINATION ${config_dir}
  PATH_VARS CMAKE_INSTALL_BINDIR)
write_basic_package_version_file(${PROJECT_BINARY_DIR}/tapbroker_clientConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/tapbroker_clientConfig.cmake
              ${PROJECT_BINARY_DIR}/tapbroker_clientConfigVersion.cmake
              cmake/tapbroker_add_test.cmake
        DESTINATION ${config_dir})

if(NOT WIN32)
  configure_file(cmake/tapbroker_client.pc.in ${PROJECT_BINARY_DIR}/tapbroker_client.pc @ONLY)
  install(FILES ${PROJECT_BINARY_DIR}/tapbroker_client.pc
          DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
endif()

set(CPACK_PACKAGE_NAME tapbroker-client)
set(CPACK_PACKAGE_VENDOR "tapbroker_client developers")
set(CPACK_PACKAGE_CONTACT "tapbroker_client maintainers <maintainers@tapbroker-client.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_STRIP_FILES ON)
if(WIN32)
  # One zip of bin/, lib/, include/, docs/ and the README, ready wherever it is unzipped.
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME tapbroker_client-${PROJECT_VERSION}-win64)
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${CPACK_PACKAGE_CONTACT}")
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "libqt6core6 (>= 6.4), libc6, libstdc++6")
  set(CPACK_DEBIAN_PACKAGE_SECTION libdevel)
  # The Python package inside is built for this python3's ABI.
  if(TARGET tapbroker_client_python)
    set(python ${Python3_VERSION_MAJOR}.${Python3_VERSION_MINOR})
    set(CPACK_DEBIAN_PACKAGE_SUGGESTS "python3 (>= ${python}), python3 (<< ${python}.99), python3-pytest")
  endif()
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
endif()
include(CPack)

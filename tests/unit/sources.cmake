# The unit and wire tests, beside this file: the Linux suite and the Windows one (which
# leaves out what is about POSIX alone) take the same list.
set(unit_sources catalogue_test.cpp client_test.cpp connect_test.cpp diagnostics_test.cpp
                 hardening_test.cpp scan_interface_test.cpp scan_jtag_test.cpp
                 scan_serial_test.cpp send_test.cpp transcript_test.cpp)
list(TRANSFORM unit_sources PREPEND ${CMAKE_CURRENT_LIST_DIR}/)

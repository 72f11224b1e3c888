# tapbroker_add_test(NAME name COMMAND command [args...]
#                    [FAULTS plan] [REPLAY transcript] [CHAIN chain.json]
#                    [WORKING_DIRECTORY dir])
#
# Adds one CTest test of a program that uses tapbroker_client, with the environment that
# the broker its Connect starts reads: TAPBROKER_FAULTS, TAPBROKER_REPLAY and
# TAPBROKER_CHAIN name the files given (relative names are taken from the current source
# directory). The broker reads them only when the library starts it, so no broker may run
# when such a test starts. A replay ends once it has been served; a broker started for a
# fault plan or a chain is told to leave after a few seconds without a connection
# (TAPBROKER_IDLE_EXIT; the library gives a broker it starts five seconds to come up), and
# the test NAME.broker_gone waits that long after NAME, so that a later test does not meet
# that broker. The tests of this helper take the lock `tapbroker_port`: no two of them run
# at once.
set(_tapbroker_test_idle_exit 6)
function(tapbroker_add_test)
  cmake_parse_arguments(arg "" "NAME;FAULTS;REPLAY;CHAIN;WORKING_DIRECTORY" "COMMAND" ${ARGN})
  if(NOT arg_NAME OR NOT arg_COMMAND)
    message(FATAL_ERROR "tapbroker_add_test: NAME and COMMAND are required")
  endif()
  if(arg_UNPARSED_ARGUMENTS)
    message(FATAL_ERROR "tapbroker_add_test: unknown arguments: ${arg_UNPARSED_ARGUMENTS}")
  endif()
  set(directory)
  if(arg_WORKING_DIRECTORY)
    set(directory WORKING_DIRECTORY "${arg_WORKING_DIRECTORY}")
  endif()
  add_test(NAME ${arg_NAME} COMMAND ${arg_COMMAND} ${directory})
  set(environment)
  foreach(kind FAULTS REPLAY CHAIN)
    if(arg_${kind})
      get_filename_component(file "${arg_${kind}}" ABSOLUTE BASE_DIR "${CMAKE_CURRENT_SOURCE_DIR}")
      list(APPEND environment "TAPBROKER_${kind}=${file}")
    endif()
  endforeach()
  set_tests_properties(${arg_NAME} PROPERTIES RESOURCE_LOCK tapbroker_port)
  if(arg_FAULTS OR arg_CHAIN)
    list(APPEND environment "TAPBROKER_IDLE_EXIT=${_tapbroker_test_idle_exit}")
    math(EXPR wait "${_tapbroker_test_idle_exit} + 1")
    add_test(NAME ${arg_NAME}.broker_gone COMMAND "${CMAKE_COMMAND}" -E sleep ${wait})
    set_tests_properties(${arg_NAME}.broker_gone PROPERTIES
                         FIXTURES_CLEANUP ${arg_NAME}.broker RESOURCE_LOCK tapbroker_port)
    set_tests_properties(${arg_NAME} PROPERTIES FIXTURES_REQUIRED ${arg_NAME}.broker)
  endif()
  if(environment)
    set_tests_properties(${arg_NAME} PROPERTIES ENVIRONMENT "${environment}")
  endif()
endfunction()

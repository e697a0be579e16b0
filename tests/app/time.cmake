# Internet time: the server walk, the RFC 868 exchange, the ICMP pinger.
kalo_add_gtest(app_time_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_internettime.cpp
  LIBS kalo_core kalo_timeserver)
target_include_directories(app_time_tests PRIVATE ${CMAKE_SOURCE_DIR}/tests/support)
target_compile_definitions(app_time_tests PRIVATE KALO_PRISTINE_DB="${KALO_PRISTINE_DB}")
add_dependencies(app_time_tests kalo_pristine_db)

# kalosqm-cli time against the kalosqm-timeserver program.
if(TARGET kalosqm-cli AND TARGET kalosqm-timeserver)
  kalo_add_gtest(app_time_cli_tests
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_time_cli.cpp
    LIBS kalo_core)
  target_include_directories(app_time_cli_tests PRIVATE ${CMAKE_SOURCE_DIR}/tests/support ${CMAKE_SOURCE_DIR}/tests/service)
  target_compile_definitions(app_time_cli_tests PRIVATE
    KALO_PRISTINE_DB="${KALO_PRISTINE_DB}"
    KALO_CLI_EXE="$<TARGET_FILE:kalosqm-cli>"
    KALO_TIMESERVER_EXE="$<TARGET_FILE:kalosqm-timeserver>")
  add_dependencies(app_time_cli_tests kalo_pristine_db kalosqm-cli kalosqm-timeserver)
endif()

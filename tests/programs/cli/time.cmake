# kalosqm-cli time against the kalosqm-timeserver program.
if(TARGET kalosqm-cli AND TARGET kalosqm-timeserver)
  kalo_add_gtest(app_time_cli_tests
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_cli_time.cpp
    LIBS kalo_site)
  
  target_compile_definitions(app_time_cli_tests PRIVATE
    KALO_PRISTINE_DB="${KALO_PRISTINE_DB}"
    KALO_CLI_EXE="$<TARGET_FILE:kalosqm-cli>"
    KALO_TIMESERVER_EXE="$<TARGET_FILE:kalosqm-timeserver>")
  add_dependencies(app_time_cli_tests kalo_pristine_db kalosqm-cli kalosqm-timeserver)
endif()

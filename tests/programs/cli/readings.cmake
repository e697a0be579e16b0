# kalosqm-cli readings and export: the real program on copies of the delivered database.
kalo_add_gtest(tools_readings_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_readings.cpp
  LIBS kalo_site
  PROPERTIES TIMEOUT 300)
target_compile_definitions(tools_readings_tests PRIVATE KALO_PRISTINE_DB="${KALO_PRISTINE_DB}"
  KALO_CLI_EXE="$<TARGET_FILE:kalosqm-cli>" KALO_TEST_LOCALES="${CMAKE_BINARY_DIR}/tests/locales")
add_dependencies(tools_readings_tests kalo_pristine_db kalosqm-cli kalo_test_locales)

# kalosqm-cli import: the real program on copies of the delivered database.
kalo_add_gtest(tools_import_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_import.cpp
  LIBS kalo_site
  PROPERTIES TIMEOUT 300)
target_compile_definitions(tools_import_tests PRIVATE KALO_PRISTINE_DB="${KALO_PRISTINE_DB}"
  KALO_CLI_EXE="$<TARGET_FILE:kalosqm-cli>")
add_dependencies(tools_import_tests kalo_pristine_db kalosqm-cli)

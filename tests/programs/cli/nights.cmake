# kalosqm-cli nights: the real program on copies of the delivered database,
# with the real nights of tests/data/nights imported through kalosqm-cli import.
kalo_add_gtest(tools_nights_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_nights.cpp
  LIBS kalo_site
  PROPERTIES TIMEOUT 300)
target_compile_definitions(tools_nights_tests PRIVATE KALO_PRISTINE_DB="${KALO_PRISTINE_DB}"
  KALO_CLI_EXE="$<TARGET_FILE:kalosqm-cli>" KALO_NIGHTS_DIR="${CMAKE_SOURCE_DIR}/tests/data/nights")
add_dependencies(tools_nights_tests kalo_pristine_db kalosqm-cli)

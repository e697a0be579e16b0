# The network query and import against the MariaDB test server.
kalo_add_gtest(site_netquery_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_netquery.cpp
  LIBS kalo_site
  PROPERTIES FIXTURES_REQUIRED netdb_server TIMEOUT 300)
target_compile_definitions(site_netquery_tests PRIVATE KALO_PRISTINE_DB="${KALO_PRISTINE_DB}"
  KALO_NETDB_DIR="${CMAKE_BINARY_DIR}/tests/netdb-server" KALO_NETDB_SCHEMA="${CMAKE_SOURCE_DIR}/db/network/schema.sql"
  KALO_CLI_EXE="$<TARGET_FILE:kalosqm-cli>")
add_dependencies(site_netquery_tests kalo_pristine_db kalosqm-cli)

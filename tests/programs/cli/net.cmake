# kalosqm-cli net: the real program against the MariaDB test server and copies of the delivered database.
kalo_add_gtest(tools_net_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_net.cpp
  LIBS kalo_site
  PROPERTIES FIXTURES_REQUIRED netdb_server TIMEOUT 300)
target_compile_definitions(tools_net_tests PRIVATE KALO_PRISTINE_DB="${KALO_PRISTINE_DB}"
  KALO_NETDB_DIR="${CMAKE_BINARY_DIR}/tests/netdb-server" KALO_NETDB_SCHEMA="${CMAKE_SOURCE_DIR}/db/network/schema.sql"
  KALO_CLI_EXE="$<TARGET_FILE:kalosqm-cli>")
add_dependencies(tools_net_tests kalo_pristine_db kalosqm-cli)

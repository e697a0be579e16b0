# Outages of the network database and of the time servers as the acquisition
# meets them: a fake clock, a real MariaDB server behind a relay that can be
# taken down, a real RFC 868 server stopped and started again.
set(KALO_NETDB_DIR ${CMAKE_BINARY_DIR}/tests/netdb-server)
kalo_add_gtest(site_outage_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_outages.cpp
  LIBS kalo_site kalo_sqmsim kalo_timeserver
  PROPERTIES FIXTURES_REQUIRED netdb_server TIMEOUT 300)
target_compile_definitions(site_outage_tests PRIVATE KALO_PRISTINE_DB="${KALO_PRISTINE_DB}"
  KALO_NETDB_DIR="${KALO_NETDB_DIR}" KALO_NETDB_SCHEMA="${CMAKE_SOURCE_DIR}/db/network/schema.sql")
add_dependencies(site_outage_tests kalo_pristine_db)

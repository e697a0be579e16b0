# The site window under QTest, over a real database copy, the simulator
# and, for its network pages, the MariaDB test server.
find_package(Qt6 REQUIRED COMPONENTS Test)
kalo_add_gtest(site_form_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_siteform.cpp ${CMAKE_CURRENT_LIST_DIR}/test_sitenetwork.cpp
          ${CMAKE_CURRENT_LIST_DIR}/test_sitenights.cpp
  LIBS kalo_desktop kalo_sqmsim Qt6::Test
  PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen" FIXTURES_REQUIRED netdb_server TIMEOUT 300)
target_compile_definitions(site_form_tests PRIVATE KALO_PRISTINE_DB="${KALO_PRISTINE_DB}"
  KALO_NETDB_DIR="${CMAKE_BINARY_DIR}/tests/netdb-server" KALO_NETDB_SCHEMA="${CMAKE_SOURCE_DIR}/db/network/schema.sql"
  KALO_LOCALE_DIR="${KALO_BIN_DIR}/Locale")
add_dependencies(site_form_tests kalo_pristine_db)

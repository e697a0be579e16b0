# Credentials files, network database access and the upload of readings.
# The network tests run against a private MariaDB server on 127.0.0.1 that
# the fixture test starts first and stops last.
set(KALO_NETDB_DIR ${CMAKE_BINARY_DIR}/tests/netdb-server)
set(KALO_NETDB_SCRIPTS ${CMAKE_SOURCE_DIR}/db/network)
add_test(NAME netdb_server_start COMMAND ${KALO_NETDB_SCRIPTS}/start-server.sh ${KALO_NETDB_DIR})
set_tests_properties(netdb_server_start PROPERTIES FIXTURES_SETUP netdb_server TIMEOUT 120)
add_test(NAME netdb_server_stop COMMAND ${KALO_NETDB_SCRIPTS}/stop-server.sh ${KALO_NETDB_DIR})
set_tests_properties(netdb_server_stop PROPERTIES FIXTURES_CLEANUP netdb_server TIMEOUT 60)

# A comma-decimal locale of our own (LOCPATH), so no system locale is needed.
set(KALO_TEST_LOCALES ${CMAKE_BINARY_DIR}/tests/locales)
add_custom_command(OUTPUT ${KALO_TEST_LOCALES}/it_IT.UTF-8/LC_NUMERIC
  COMMAND ${CMAKE_COMMAND} -E make_directory ${KALO_TEST_LOCALES}
  COMMAND localedef -i it_IT -f UTF-8 ${KALO_TEST_LOCALES}/it_IT.UTF-8 || test -f ${KALO_TEST_LOCALES}/it_IT.UTF-8/LC_NUMERIC
  COMMENT "Compiling the it_IT.UTF-8 locale for the tests")
add_custom_target(kalo_test_locales DEPENDS ${KALO_TEST_LOCALES}/it_IT.UTF-8/LC_NUMERIC)

kalo_add_gtest(station_credentials_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_credentials.cpp
  LIBS kalo_station)
target_compile_definitions(station_credentials_tests PRIVATE KALO_CLI="$<TARGET_FILE:kalosqm-cli>")
add_dependencies(station_credentials_tests kalosqm-cli)

kalo_add_gtest(station_network_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_netdb.cpp ${CMAKE_CURRENT_LIST_DIR}/test_upload.cpp
  LIBS kalo_station kalo_sqmsim
  PROPERTIES FIXTURES_REQUIRED netdb_server TIMEOUT 120)
target_compile_definitions(station_network_tests PRIVATE KALO_NETDB_DIR="${KALO_NETDB_DIR}"
  KALO_NETDB_SCHEMA="${KALO_NETDB_SCRIPTS}/schema.sql" KALO_TEST_LOCALES="${KALO_TEST_LOCALES}")
add_dependencies(station_network_tests kalo_test_locales kalo_pristine_db)
if(TARGET kalo_site)
  # The data module's selection of waiting readings is checked against real uploads.
  target_link_libraries(station_network_tests PRIVATE kalo_site)
  target_compile_definitions(station_network_tests PRIVATE KALO_HAVE_CORE)
endif()
foreach(t station_credentials_tests station_network_tests)
  target_compile_definitions(${t} PRIVATE KALO_PRISTINE_DB="${KALO_PRISTINE_DB}")
endforeach()

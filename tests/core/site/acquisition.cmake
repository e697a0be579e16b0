# The site core: schedule rules and the acquisition against the simulator,
# real database files, a real time server and a real MariaDB server.
kalo_add_gtest(site_core_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_readingwindow.cpp
          ${CMAKE_CURRENT_LIST_DIR}/test_acquisition.cpp
          ${CMAKE_CURRENT_LIST_DIR}/test_acquisition_async.cpp
          ${CMAKE_CURRENT_LIST_DIR}/test_jobrunner.cpp
  LIBS kalo_site kalo_sqmsim kalo_timeserver)
target_compile_definitions(site_core_tests PRIVATE KALO_PRISTINE_DB="${KALO_PRISTINE_DB}")
add_dependencies(site_core_tests kalo_pristine_db)

set(KALO_NETDB_DIR ${CMAKE_BINARY_DIR}/tests/netdb-server)
set(KALO_NETDB_SCRIPTS ${CMAKE_SOURCE_DIR}/db/network)
kalo_add_gtest(site_upload_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_autoupload.cpp
  LIBS kalo_site kalo_sqmsim
  PROPERTIES FIXTURES_REQUIRED netdb_server TIMEOUT 300)
target_compile_definitions(site_upload_tests PRIVATE KALO_PRISTINE_DB="${KALO_PRISTINE_DB}"
  KALO_NETDB_DIR="${KALO_NETDB_DIR}" KALO_NETDB_SCHEMA="${KALO_NETDB_SCRIPTS}/schema.sql")
add_dependencies(site_upload_tests kalo_pristine_db)

# The reading lists, local query, statistics, export and deletion on real database files.
kalo_add_gtest(site_query_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_localquery.cpp
  LIBS kalo_site_core)
target_include_directories(site_query_tests PRIVATE ${CMAKE_SOURCE_DIR}/tests/support)
target_compile_definitions(site_query_tests PRIVATE KALO_PRISTINE_DB="${KALO_PRISTINE_DB}")
add_dependencies(site_query_tests kalo_pristine_db)

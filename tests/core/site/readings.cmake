# The readings on small data: counts kept by triggers, the site rules,
# deleting a site in slices, the statement of waiting readings, the reading
# lists and the local query.
kalo_add_gtest(site_readings_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_readingcounts.cpp
          ${CMAKE_CURRENT_LIST_DIR}/test_pendingreadings.cpp
          ${CMAKE_CURRENT_LIST_DIR}/test_localquery.cpp
  LIBS kalo_site)
target_compile_definitions(site_readings_tests PRIVATE KALO_PRISTINE_DB="${KALO_PRISTINE_DB}")
add_dependencies(site_readings_tests kalo_pristine_db)

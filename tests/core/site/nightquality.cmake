# Night quality: nights made by a model of the sky with known clouds, and
# the night summaries kept in real database files.
kalo_add_gtest(site_nightquality_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_nightquality.cpp
          ${CMAKE_CURRENT_LIST_DIR}/test_nightsummaries.cpp
  LIBS kalo_site
  PROPERTIES TIMEOUT 300)
target_compile_definitions(site_nightquality_tests PRIVATE KALO_PRISTINE_DB="${KALO_PRISTINE_DB}")
add_dependencies(site_nightquality_tests kalo_pristine_db)

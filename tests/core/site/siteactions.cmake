# The site, settings and time-server actions every shell calls: a real database copy and the SQM-LE
# simulator for "Check connection".
kalo_add_gtest(site_actions_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_siteactions.cpp ${CMAKE_CURRENT_LIST_DIR}/test_settingsactions.cpp
  LIBS kalo_site kalo_sqmsim)
target_compile_definitions(site_actions_tests PRIVATE KALO_PRISTINE_DB="${KALO_PRISTINE_DB}")
add_dependencies(site_actions_tests kalo_pristine_db)

# kalosqm-cli sites, site, settings, timeservers and meter: the real program
# on copied databases, a simulated SQM-LE for "site test" and "meter",
# kalosqm-station holding a database.
if(NOT TARGET kalosqm-station)
  return()
endif()
kalo_add_gtest(tools_sites_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_sites.cpp
  LIBS kalo_station kalo_sqmsim
  PROPERTIES TIMEOUT 120)
target_compile_definitions(tools_sites_tests PRIVATE KALO_PRISTINE_DB="${KALO_PRISTINE_DB}"
  KALO_CLI_EXE="$<TARGET_FILE:kalosqm-cli>" KALOSQM_STATION_EXE="$<TARGET_FILE:kalosqm-station>")
add_dependencies(tools_sites_tests kalo_pristine_db kalosqm-cli kalosqm-station)

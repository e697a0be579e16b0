# Internet time: the server walk, the RFC 868 exchange, the ICMP pinger.
kalo_add_gtest(app_time_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_internettime.cpp
  LIBS kalo_site kalo_timeserver)
target_compile_definitions(app_time_tests PRIVATE KALO_PRISTINE_DB="${KALO_PRISTINE_DB}")
add_dependencies(app_time_tests kalo_pristine_db)

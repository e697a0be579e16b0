# The meter finder: the simulator's discovery and scripted UDP peers, on 127.0.0.1.
kalo_add_gtest(station_finder_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_meterfinder.cpp
  LIBS kalo_station kalo_sqmsim
  PROPERTIES TIMEOUT 120)
target_compile_definitions(station_finder_tests PRIVATE KALO_PRISTINE_DB="${KALO_PRISTINE_DB}")

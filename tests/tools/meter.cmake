# kalosqm-cli meter: the real program against the simulated SQM-LE.
kalo_add_gtest(tools_meter_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_meter.cpp
  LIBS kalo_station kalo_sqmsim
  PROPERTIES TIMEOUT 120)
target_include_directories(tools_meter_tests PRIVATE ${CMAKE_SOURCE_DIR}/tests/support ${CMAKE_SOURCE_DIR}/tests/service)
target_compile_definitions(tools_meter_tests PRIVATE KALO_CLI_EXE="$<TARGET_FILE:kalosqm-cli>" KALO_PRISTINE_DB="${KALO_PRISTINE_DB}")
add_dependencies(tools_meter_tests kalosqm-cli)

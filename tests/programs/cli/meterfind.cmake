# kalosqm-cli meter find: the real program against sqmle-sim answering discovery, on 127.0.0.1.
kalo_add_gtest(tools_meterfind_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_cli_meterfind.cpp
  LIBS kalo_station
  PROPERTIES TIMEOUT 120)
target_compile_definitions(tools_meterfind_tests PRIVATE KALO_PRISTINE_DB="${KALO_PRISTINE_DB}"
  KALO_CLI_EXE="$<TARGET_FILE:kalosqm-cli>" SQMLE_SIM_EXE="$<TARGET_FILE:sqmle-sim>")
add_dependencies(tools_meterfind_tests kalosqm-cli sqmle-sim)

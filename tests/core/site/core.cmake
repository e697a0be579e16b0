# Data module, version and start-up logic (no Qt).
kalo_add_gtest(app_core_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_datamodule.cpp
          ${CMAKE_CURRENT_LIST_DIR}/test_version.cpp
  LIBS kalo_site)
target_compile_definitions(app_core_tests PRIVATE KALO_PRISTINE_DB="${KALO_PRISTINE_DB}"
  KALO_SCHEMA10_DB="${KALO_SCHEMA10_DB}")
add_dependencies(app_core_tests kalo_pristine_db kalo_schema10_db)

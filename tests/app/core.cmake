# Data module, version and start-up logic (no Qt).
kalo_add_gtest(app_core_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_datamodule.cpp
          ${CMAKE_CURRENT_LIST_DIR}/test_version.cpp
  LIBS kalo_core)
target_include_directories(app_core_tests PRIVATE ${CMAKE_SOURCE_DIR}/tests/support)
target_compile_definitions(app_core_tests PRIVATE KALO_PRISTINE_DB="${KALO_PRISTINE_DB}"
  KALO_SCHEMA10_DB="${KALO_SCHEMA10_DB}")
add_dependencies(app_core_tests kalo_pristine_db kalo_schema10_db)

# The desktop program as a user starts it, and its windows under QTest.
if(TARGET kalosqm)
  find_package(Qt6 REQUIRED COMPONENTS Test)
  kalo_add_gtest(app_gui_tests
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_startup.cpp
            ${CMAKE_CURRENT_LIST_DIR}/test_time_commands.cpp
    LIBS kalo_gui kalo_timeserver Qt6::Test
    PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
  target_include_directories(app_gui_tests PRIVATE ${CMAKE_SOURCE_DIR}/tests/support ${CMAKE_SOURCE_DIR}/tests/service)
  target_compile_definitions(app_gui_tests PRIVATE KALO_PRISTINE_DB="${KALO_PRISTINE_DB}"
                             KALOSQM_EXE="$<TARGET_FILE:kalosqm>")
  add_dependencies(app_gui_tests kalo_pristine_db kalosqm)
endif()

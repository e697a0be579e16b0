# The desktop program as a user starts it, and its windows under QTest.
if(TARGET kalosqm)
  find_package(Qt6 REQUIRED COMPONENTS Test)
  kalo_add_gtest(app_gui_tests
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_startup.cpp
            ${CMAKE_CURRENT_LIST_DIR}/test_time_commands.cpp
    LIBS kalo_desktop kalo_timeserver Qt6::Test
    PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
  
  target_compile_definitions(app_gui_tests PRIVATE KALO_PRISTINE_DB="${KALO_PRISTINE_DB}"
                             KALOSQM_EXE="$<TARGET_FILE:kalosqm>")
  add_dependencies(app_gui_tests kalo_pristine_db kalosqm)
endif()

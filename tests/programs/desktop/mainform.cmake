# The main window with real site windows, and the program ending on SIGTERM.
if(TARGET kalosqm)
  find_package(Qt6 REQUIRED COMPONENTS Test)
  kalo_add_gtest(app_mainform_tests
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_mainform.cpp ${CMAKE_CURRENT_LIST_DIR}/test_languages.cpp
    LIBS kalo_desktop Qt6::Test
    PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen" TIMEOUT 120)
  
  target_compile_definitions(app_mainform_tests PRIVATE KALO_PRISTINE_DB="${KALO_PRISTINE_DB}"
                             KALO_SOURCE_DIR="${CMAKE_SOURCE_DIR}"
                             KALOSQM_EXE="$<TARGET_FILE:kalosqm>")
  add_dependencies(app_mainform_tests kalo_pristine_db kalosqm)
endif()

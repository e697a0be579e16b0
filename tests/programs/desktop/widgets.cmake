# The shared widgets and the "Configuration" dialogs under QTest, over a real
# copy of the delivered database (only the ping is faked).
if(TARGET kalo_desktop)
  find_package(Qt6 REQUIRED COMPONENTS Test)
  kalo_add_gtest(app_widgets_tests
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_widgets.cpp
    LIBS kalo_desktop Qt6::Test
    PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
  
  target_compile_definitions(app_widgets_tests PRIVATE KALO_PRISTINE_DB="${KALO_PRISTINE_DB}")
  add_dependencies(app_widgets_tests kalo_pristine_db)
endif()

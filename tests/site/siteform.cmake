# The site window under QTest, over a real database copy and the simulator.
find_package(Qt6 REQUIRED COMPONENTS Test)
kalo_add_gtest(site_form_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_siteform.cpp
  LIBS kalo_gui kalo_sqmsim Qt6::Test
  PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
target_include_directories(site_form_tests PRIVATE ${CMAKE_SOURCE_DIR}/tests/support)
target_compile_definitions(site_form_tests PRIVATE KALO_PRISTINE_DB="${KALO_PRISTINE_DB}")
add_dependencies(site_form_tests kalo_pristine_db)

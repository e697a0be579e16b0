# The "Site list" dialog and its core, over a real database copy.
if(TARGET kalo_desktop)
  find_package(Qt6 REQUIRED COMPONENTS Test)
  kalo_add_gtest(site_list_tests
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_sitelist.cpp
    LIBS kalo_desktop kalo_site Qt6::Test
    PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
  
  target_compile_definitions(site_list_tests PRIVATE KALO_PRISTINE_DB="${KALO_PRISTINE_DB}")
  add_dependencies(site_list_tests kalo_pristine_db)
endif()

# The "Set Site code" dialog under QTest and its core: real credentials
# files in a temporary program folder.
if(TARGET kalo_desktop)
  find_package(Qt6 REQUIRED COMPONENTS Test)
  kalo_add_gtest(site_setsitecode_tests
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_setsitecode.cpp
    LIBS kalo_desktop Qt6::Test
    PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
  
endif()

# "Find..." of the site window and its search dialog under QTest, over a
# real database copy and the simulator's discovery on 127.0.0.1.
find_package(Qt6 REQUIRED COMPONENTS Test)
kalo_add_gtest(site_meterfind_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_meterfinddialog.cpp
  LIBS kalo_desktop kalo_sqmsim Qt6::Test
  PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen" TIMEOUT 120)
target_compile_definitions(site_meterfind_tests PRIVATE KALO_PRISTINE_DB="${KALO_PRISTINE_DB}"
  KALO_LOCALE_DIR="${KALO_BIN_DIR}/Locale")
add_dependencies(site_meterfind_tests kalo_pristine_db)

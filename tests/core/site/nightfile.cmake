# Night files in the community skyglow format: the acquisition against the
# simulator on real database files, and the files read back.
kalo_add_gtest(site_nightfile_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_nightfile.cpp ${CMAKE_CURRENT_LIST_DIR}/test_nightfile_outage.cpp
  LIBS kalo_site kalo_sqmsim)
target_compile_definitions(site_nightfile_tests PRIVATE KALO_PRISTINE_DB="${KALO_PRISTINE_DB}")
add_dependencies(site_nightfile_tests kalo_pristine_db)

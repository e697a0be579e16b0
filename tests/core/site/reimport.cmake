# A station's own night files imported back: the acquisition against the
# simulator stores and writes them, the import reads them into the same file.
kalo_add_gtest(site_reimport_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_reimport.cpp
  LIBS kalo_site kalo_sqmsim)
target_compile_definitions(site_reimport_tests PRIVATE KALO_PRISTINE_DB="${KALO_PRISTINE_DB}")
add_dependencies(site_reimport_tests kalo_pristine_db)

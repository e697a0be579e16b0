# Community standard skyglow data files: the parser on hand-written files and
# our own night files, and the import on real database files.
kalo_add_gtest(site_communityfile_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_communityfile.cpp
  LIBS kalo_site
  PROPERTIES TIMEOUT 300)
target_compile_definitions(site_communityfile_tests PRIVATE KALO_PRISTINE_DB="${KALO_PRISTINE_DB}")
add_dependencies(site_communityfile_tests kalo_pristine_db)

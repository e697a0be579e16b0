# The desktop program as an observer leaves it running: started as a child
# process on a copied database with the SQM-LE simulator in this process.
if(TARGET kalosqm)
  kalo_add_gtest(app_program_tests
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_program.cpp
    LIBS kalo_station kalo_sqmsim
    PROPERTIES TIMEOUT 180)
  
  target_compile_definitions(app_program_tests PRIVATE KALO_PRISTINE_DB="${KALO_PRISTINE_DB}"
                             KALOSQM_EXE="$<TARGET_FILE:kalosqm>")
  add_dependencies(app_program_tests kalo_pristine_db kalosqm)
endif()

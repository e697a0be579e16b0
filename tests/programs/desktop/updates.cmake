# "Check for updates": the update file's rules without Qt, the download and
# the dialog against a small HTTP server of the test on 127.0.0.1.
if(TARGET kalo_desktop)
  find_package(Qt6 REQUIRED COMPONENTS Test Network)
  kalo_add_gtest(app_updates_tests
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_updates.cpp
    LIBS kalo_desktop Qt6::Network Qt6::Test
    PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen" TIMEOUT 180)
  
  target_compile_definitions(app_updates_tests PRIVATE KALO_PRISTINE_DB="${KALO_PRISTINE_DB}"
                             KALO_UPDATE_URL="${KALO_UPDATE_URL}")
endif()

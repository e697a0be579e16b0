# The windows' layout in each language (nothing clipped at the tiled width,
# windows inside the visible area), Qt's own texts following the language and
# one rule for numbers and dates, over the real catalogues of this build.
if(TARGET kalosqm)
  find_package(Qt6 REQUIRED COMPONENTS Test)
  kalo_add_gtest(app_layout_tests
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_layout.cpp ${CMAKE_CURRENT_LIST_DIR}/test_language_formats.cpp
    LIBS kalo_desktop Qt6::Test
    PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen" TIMEOUT 300)
  target_compile_definitions(app_layout_tests PRIVATE KALO_PRISTINE_DB="${KALO_PRISTINE_DB}"
                             KALO_LOCALE_DIR="${KALO_BIN_DIR}/Locale")
  add_dependencies(app_layout_tests kalo_pristine_db kalo_catalogues)
endif()

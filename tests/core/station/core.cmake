# Firebird layer, utilities, station object and local store.
kalo_add_gtest(station_core_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_fbdb.cpp
          ${CMAKE_CURRENT_LIST_DIR}/test_myutils.cpp
          ${CMAKE_CURRENT_LIST_DIR}/test_sqm.cpp
          ${CMAKE_CURRENT_LIST_DIR}/test_store.cpp
          ${CMAKE_CURRENT_LIST_DIR}/test_errorlog.cpp
          ${CMAKE_CURRENT_LIST_DIR}/test_programlayout.cpp
  LIBS kalo_station kalo_sqmsim)
target_compile_definitions(station_core_tests PRIVATE KALO_PRISTINE_DB="${KALO_PRISTINE_DB}")
add_dependencies(station_core_tests kalo_pristine_db)

# The upgrade from the previous schema, over files made from its script.
kalo_add_gtest(station_upgrade_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_schemaupgrade.cpp
  LIBS kalo_station)
target_compile_definitions(station_upgrade_tests PRIVATE KALO_PRISTINE_DB="${KALO_PRISTINE_DB}"
  KALO_SCHEMA10_DB="${KALO_SCHEMA10_DB}")
add_dependencies(station_upgrade_tests kalo_pristine_db kalo_schema10_db)

# Firebird client (the embedded engine is loaded by libfbclient at run time).
find_path(FIREBIRD_INCLUDE_DIR ibase.h PATH_SUFFIXES firebird)
find_library(FIREBIRD_LIBRARY NAMES fbclient)
if(NOT FIREBIRD_INCLUDE_DIR OR NOT FIREBIRD_LIBRARY)
  message(FATAL_ERROR "Firebird client not found (firebird-dev, libfbclient2)")
endif()
add_library(Firebird::fbclient UNKNOWN IMPORTED)
set_target_properties(Firebird::fbclient PROPERTIES
  IMPORTED_LOCATION ${FIREBIRD_LIBRARY}
  INTERFACE_INCLUDE_DIRECTORIES ${FIREBIRD_INCLUDE_DIR})

find_program(ISQL_FB NAMES isql-fb isql REQUIRED)

# MariaDB Connector/C
find_package(PkgConfig REQUIRED)
pkg_check_modules(MARIADB REQUIRED IMPORTED_TARGET libmariadb)

# Adds a GoogleTest executable and registers its cases with CTest.
# kalo_add_gtest(NAME SOURCES ... LIBS ... [PROPERTIES ...])
function(kalo_add_gtest name)
  cmake_parse_arguments(T "" "" "SOURCES;LIBS;PROPERTIES" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main)
  # Test helpers are named from tests/ ("support/testsupport.h").
  target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR}/tests)
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 PROPERTIES ${T_PROPERTIES})
endfunction()

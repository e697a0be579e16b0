# Creates a database file from the schema script.
#   cmake -DISQL=... -DSCHEMA=... -DOUT=... [-DKEEP_EXISTING=ON] -P make_database.cmake
# With KEEP_EXISTING an existing file is never touched: it holds a user's readings.
if(KEEP_EXISTING AND EXISTS "${OUT}")
  return()
endif()
get_filename_component(dir "${OUT}" DIRECTORY)
file(MAKE_DIRECTORY "${dir}")
set(tmp "${OUT}.new")
file(REMOVE "${tmp}")
file(READ "${SCHEMA}" sql)
string(REPLACE "@DBFILE@" "${tmp}" sql "${sql}")
file(WRITE "${OUT}.sql" "${sql}")
execute_process(COMMAND "${ISQL}" -b -q -i "${OUT}.sql"
  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
file(REMOVE "${OUT}.sql")
# isql warns that dialect-1 DATE is a TIMESTAMP; anything else is an error.
string(REGEX REPLACE "-?SQL warning code = 301[^\n]*\n?" "" err "${err}")
string(REGEX REPLACE "-?DATE data type is now called TIMESTAMP\n?" "" err "${err}")
string(STRIP "${err}" err)
if(NOT rc EQUAL 0 OR NOT err STREQUAL "" OR NOT EXISTS "${tmp}")
  file(REMOVE "${tmp}")
  message(FATAL_ERROR "Creating ${OUT} failed (${rc}):\n${out}\n${err}")
endif()
if(KEEP_EXISTING AND EXISTS "${OUT}")
  file(REMOVE "${tmp}")
  return()
endif()
file(RENAME "${tmp}" "${OUT}")

# The library exports exactly the functions its header declares, 32 of them.
# cmake -DNM=<nm> -DLIBRARY=<libastro.so> -DHEADER=<astro.h> -P check_exports.cmake
execute_process(COMMAND ${NM} -D --defined-only --format=just-symbols ${LIBRARY}
  OUTPUT_VARIABLE exported RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "${NM} failed on ${LIBRARY}")
endif()
string(STRIP "${exported}" exported)
string(REPLACE "\n" ";" exported "${exported}")

file(READ ${HEADER} header)
string(REGEX MATCHALL "\n(double|int32_t) +[A-Za-z_][A-Za-z0-9_]*\\(" declared "${header}")
list(TRANSFORM declared REPLACE "^\n(double|int32_t) +([A-Za-z0-9_]+)\\($" "\\2")

list(SORT exported)
list(SORT declared)
list(LENGTH exported count)
if(NOT exported STREQUAL declared OR NOT count EQUAL 32)
  message(FATAL_ERROR "${count} exports, 32 expected, as the header declares them\n"
                      "exported: ${exported}\ndeclared: ${declared}")
endif()
message(STATUS "${count} exports match the header")

# kalosqm-cli astro: almanac output for known places and instants.
if(TARGET kalosqm-cli)
  add_test(NAME astronomy_cli_astro
    COMMAND ${CMAKE_COMMAND} -DCLI=$<TARGET_FILE:kalosqm-cli>
            -P ${CMAKE_CURRENT_LIST_DIR}/scripts/cli_astro_test.cmake)
  set_tests_properties(astronomy_cli_astro PROPERTIES LABELS astronomy)
endif()

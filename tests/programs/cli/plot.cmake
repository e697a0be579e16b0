# kalosqm-cli plot: the real program writing pictures from copies of the
# delivered database, read back as PNG images and parsed as SVG documents.
find_package(Qt6 REQUIRED COMPONENTS Gui)
kalo_add_gtest(tools_plot_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_cli_plot.cpp
  LIBS kalo_site Qt6::Gui
  PROPERTIES TIMEOUT 300)
target_compile_definitions(tools_plot_tests PRIVATE KALO_PRISTINE_DB="${KALO_PRISTINE_DB}"
  KALO_CLI_EXE="$<TARGET_FILE:kalosqm-cli>")
add_dependencies(tools_plot_tests kalo_pristine_db kalosqm-cli)

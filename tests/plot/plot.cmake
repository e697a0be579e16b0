# The published plots drawn from plain data and from real database files:
# PNG pictures read back, SVG parsed as XML, the night's astronomy.
if(TARGET kalo_plot)
  kalo_add_gtest(site_plot_tests
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_plot.cpp
    LIBS kalo_plot
    PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
  
  target_compile_definitions(site_plot_tests PRIVATE KALO_PRISTINE_DB="${KALO_PRISTINE_DB}")
  add_dependencies(site_plot_tests kalo_pristine_db)
endif()

# The station service writing the picture of each finished night.
if(TARGET kalo_plot AND TARGET kalosqm-station AND TARGET kalo_sqmsim)
  kalo_add_gtest(site_plot_station_tests
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_plot_station.cpp
    LIBS kalo_service kalo_sqmsim
    PROPERTIES TIMEOUT 180)
  target_compile_definitions(site_plot_station_tests PRIVATE KALO_PRISTINE_DB="${KALO_PRISTINE_DB}"
    KALOSQM_STATION_EXE="$<TARGET_FILE:kalosqm-station>")
  add_dependencies(site_plot_station_tests kalo_pristine_db kalosqm-station)
endif()

# The site window's charts of readings: markers, breaks, time labels, shading.
if(TARGET kalo_gui)
  kalo_add_gtest(gui_readingchart_tests
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_readingchart.cpp
    LIBS kalo_gui
    PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
endif()

# The plot layer's WMF/EMF writer, read back record by record, with Qt Gui
# alone (no Qt Widgets).
if(TARGET kalo_plot)
  kalo_add_gtest(site_metafile_tests
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_metafilepicture.cpp
    LIBS kalo_plot
    PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
endif()

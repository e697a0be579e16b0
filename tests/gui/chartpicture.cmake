# "Save graph": the pictures of a chart view, read back by Qt and converted by
# wmf2svg (libwmf-bin) and emf2svg-conv (emf2svg).
if(TARGET kalo_gui)
  find_package(Qt6 REQUIRED COMPONENTS Test)
  # Not found at configure time: the tests fail naming the program.
  find_program(KALO_WMF2SVG wmf2svg)
  find_program(KALO_EMF2SVG emf2svg-conv)
  if(NOT KALO_WMF2SVG)
    set(KALO_WMF2SVG wmf2svg)
  endif()
  if(NOT KALO_EMF2SVG)
    set(KALO_EMF2SVG emf2svg-conv)
  endif()
  kalo_add_gtest(site_chartpicture_tests
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_chartpicture.cpp
    LIBS kalo_gui Qt6::Test
    PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
  
  target_compile_definitions(site_chartpicture_tests PRIVATE
    KALO_WMF2SVG="${KALO_WMF2SVG}" KALO_EMF2SVG="${KALO_EMF2SVG}")
endif()

# Tests of the launcher run: the real-process tests start the kwLoader program as built, and
# the window test reads the X server directly (window class, pixels) and writes its
# screenshot as a JPEG.
if(TARGET kw_tests_launcher AND TARGET kwLoader)
  add_dependencies(kw_tests_launcher kwLoader)
endif()
if(TARGET kw_tests_launcher_gui)
  find_package(X11 REQUIRED)
  find_package(JPEG REQUIRED)
  target_link_libraries(kw_tests_launcher_gui PRIVATE X11::X11 JPEG::JPEG)
endif()

# platform: the status window's FLTK back end (platform/ui/) links FLTK and Xlib; nothing
# above the platform layer sees either.
find_path(KW_FLTK_INCLUDE_DIR FL/Fl.H REQUIRED)
find_library(KW_FLTK_LIBRARY NAMES fltk REQUIRED)
find_package(X11 REQUIRED)
target_include_directories(kw_platform PRIVATE ${KW_FLTK_INCLUDE_DIR})
target_link_libraries(kw_platform PRIVATE ${KW_FLTK_LIBRARY} X11::X11)

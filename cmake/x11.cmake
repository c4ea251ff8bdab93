# The Linux injector's libraries, linked into korvex_platform: Xlib and the
# XTEST extension (Debian libx11-dev, libxtst-dev). Nothing on Windows.
if(NOT WIN32)
  find_package(X11 REQUIRED)
  if(NOT TARGET X11::Xtst)
    message(FATAL_ERROR "libXtst not found (Debian package libxtst-dev)")
  endif()
  target_link_libraries(korvex_platform PUBLIC X11::X11 X11::Xtst)
endif()

# The virtual gamepad's OS library, linked into korvex_platform: setupapi for
# the ViGEmBus device enumeration on Windows. Nothing elsewhere.
if(WIN32)
  target_link_libraries(korvex_platform PUBLIC setupapi)
endif()

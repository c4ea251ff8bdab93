# Discovery's OS libraries, linked into korvex_platform: adapter enumeration
# and sockets on Windows (the DNS-SD functions of dnsapi are looked up at run
# time, since not every Windows, nor Wine, has them); the Avahi client on Linux.
if(WIN32)
  target_link_libraries(korvex_platform PUBLIC iphlpapi ws2_32)
else()
  find_package(PkgConfig REQUIRED)
  pkg_check_modules(AVAHI_CLIENT IMPORTED_TARGET GLOBAL avahi-client)
  if(NOT AVAHI_CLIENT_FOUND)
    message(FATAL_ERROR "The Avahi client library is missing: install libavahi-client-dev")
  endif()
  target_link_libraries(korvex_platform PUBLIC PkgConfig::AVAHI_CLIENT)
endif()

# The host end to end on loopback: the real listeners, sessions, datagram and
# watchdog tasks in-process, driven by the client library, and the Linux
# console host as a child process. A program of its own: it needs the network
# layer, which the unit tests do not link.
file(GLOB KORVEX_NET_TEST_SOURCES CONFIGURE_DEPENDS "${CMAKE_CURRENT_SOURCE_DIR}/net/*.cpp")
if(WIN32)
  file(GLOB KORVEX_NET_OS_TEST_SOURCES CONFIGURE_DEPENDS "${CMAKE_CURRENT_SOURCE_DIR}/net/win32/*.cpp")
else()
  file(GLOB KORVEX_NET_OS_TEST_SOURCES CONFIGURE_DEPENDS "${CMAKE_CURRENT_SOURCE_DIR}/net/posix/*.cpp")
endif()
add_executable(korvex_net_tests ${KORVEX_NET_TEST_SOURCES} ${KORVEX_NET_OS_TEST_SOURCES})
target_include_directories(korvex_net_tests PRIVATE "${CMAKE_CURRENT_SOURCE_DIR}")
target_link_libraries(korvex_net_tests PRIVATE korvex_net korvex_client korvex_app korvex_warnings GTest::gtest GTest::gtest_main)
if(WIN32)
  target_compile_definitions(korvex_net_tests PRIVATE WIN32_LEAN_AND_MEAN NOMINMAX UNICODE _UNICODE)
  add_test(NAME korvex_net_tests COMMAND korvex_net_tests)
else()
  # The console and korvex-remote process tests start the real programs; the
  # X test drives the host with korvex-remote under Xvfb.
  add_dependencies(korvex_net_tests korvex-host korvex-remote)
  target_compile_definitions(korvex_net_tests PRIVATE "KORVEX_HOST_PROGRAM=\"$<TARGET_FILE:korvex-host>\""
                                                      "KORVEX_REMOTE_PROGRAM=\"$<TARGET_FILE:korvex-remote>\"")
  gtest_discover_tests(korvex_net_tests DISCOVERY_TIMEOUT 60)
endif()

# Discovery tests: the Tailscale status fixture compiled into the test program
# (so it needs no path that Wine or a copied binary might not see), and a fake
# "tailscale" command-line tool that the tests put on the PATH.
set(KORVEX_TS_FIXTURE "${CMAKE_CURRENT_LIST_DIR}/fixtures/tailscale-status.json")
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${KORVEX_TS_FIXTURE}")
file(READ "${KORVEX_TS_FIXTURE}" KORVEX_TS_FIXTURE_TEXT)
file(CONFIGURE OUTPUT "${CMAKE_CURRENT_BINARY_DIR}/generated/fixtures/tailscale_status_fixture.h"
     CONTENT "#pragma once\n// Generated from tests/fixtures/tailscale-status.json at configure time.\ninline constexpr char kTailscaleStatusFixture[] = R\"korvex_fixture(@KORVEX_TS_FIXTURE_TEXT@)korvex_fixture\";\n"
     @ONLY)
target_include_directories(korvex_tests PRIVATE "${CMAKE_CURRENT_BINARY_DIR}/generated")

# Built as "tailscale" into a folder of its own next to the test program,
# which finds it there.
add_executable(korvex_fake_tailscale "${CMAKE_CURRENT_LIST_DIR}/support/fake_tailscale.cpp")
set_target_properties(korvex_fake_tailscale PROPERTIES OUTPUT_NAME tailscale
                      RUNTIME_OUTPUT_DIRECTORY "${CMAKE_CURRENT_BINARY_DIR}/fake-tailscale")
target_link_libraries(korvex_fake_tailscale PRIVATE korvex_warnings)
add_dependencies(korvex_tests korvex_fake_tailscale)

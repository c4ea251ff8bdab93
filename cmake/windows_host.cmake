# korvex-host.exe: the Windows tray program. Its icons are drawn at build time
# by a small tool built with the build machine's own compiler from the same
# pixel code the tray uses, so the resources and the drawn fallback match.
find_program(KORVEX_BUILD_CXX NAMES c++ g++ REQUIRED NO_CMAKE_FIND_ROOT_PATH)
set(KORVEX_ICON_DIR "${CMAKE_CURRENT_BINARY_DIR}/icons")
set(KORVEX_ICON_TOOL_SOURCES "${CMAKE_CURRENT_SOURCE_DIR}/app/icon_tool/main.cpp"
                             "${CMAKE_CURRENT_SOURCE_DIR}/app/icon_pixels.cpp")
add_custom_command(
  OUTPUT "${KORVEX_ICON_DIR}/korvex.ico" "${KORVEX_ICON_DIR}/tray_ready.ico" "${KORVEX_ICON_DIR}/tray_controlled.ico"
  COMMAND ${CMAKE_COMMAND} -E make_directory "${KORVEX_ICON_DIR}"
  COMMAND "${KORVEX_BUILD_CXX}" -std=c++20 -O1 "-I${CMAKE_CURRENT_SOURCE_DIR}" ${KORVEX_ICON_TOOL_SOURCES}
          -o "${KORVEX_ICON_DIR}/korvex-icons"
  COMMAND "${KORVEX_ICON_DIR}/korvex-icons" "${KORVEX_ICON_DIR}"
  DEPENDS ${KORVEX_ICON_TOOL_SOURCES} "${CMAKE_CURRENT_SOURCE_DIR}/app/icon_pixels.h"
  COMMENT "Drawing the program's icons"
  VERBATIM)

# Version numbers for VERSIONINFO and the manifest, from project(VERSION).
set(KORVEX_VERSION_COMMAS "${PROJECT_VERSION_MAJOR},${PROJECT_VERSION_MINOR},${PROJECT_VERSION_PATCH},0")
set(KORVEX_VERSION_QUAD "${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}.${PROJECT_VERSION_PATCH}.0")
set(KORVEX_RESOURCE_DIR "${CMAKE_CURRENT_SOURCE_DIR}/app/win32/resources")
configure_file("${KORVEX_RESOURCE_DIR}/korvex-host.manifest.in" "${CMAKE_CURRENT_BINARY_DIR}/korvex-host.manifest" @ONLY)
configure_file("${KORVEX_RESOURCE_DIR}/korvex-host.rc.in" "${CMAKE_CURRENT_BINARY_DIR}/korvex-host.rc" @ONLY)
set_source_files_properties("${CMAKE_CURRENT_BINARY_DIR}/korvex-host.rc" PROPERTIES
  OBJECT_DEPENDS "${KORVEX_ICON_DIR}/korvex.ico;${KORVEX_ICON_DIR}/tray_ready.ico;${KORVEX_ICON_DIR}/tray_controlled.ico;${CMAKE_CURRENT_BINARY_DIR}/korvex-host.manifest")

# The tray, flyout and start-on-login code as a library, so the Windows test
# program can reach the registry code too.
file(GLOB KORVEX_TRAY_SOURCES CONFIGURE_DEPENDS "${CMAKE_CURRENT_SOURCE_DIR}/app/win32/*.cpp")
list(FILTER KORVEX_TRAY_SOURCES EXCLUDE REGEX "/main\\.cpp$")
add_library(korvex_tray STATIC ${KORVEX_TRAY_SOURCES})
target_compile_definitions(korvex_tray PUBLIC WIN32_LEAN_AND_MEAN NOMINMAX UNICODE _UNICODE)
target_link_libraries(korvex_tray PUBLIC korvex_app korvex_net shell32 comctl32 gdi32 user32 winmm advapi32
                                  PRIVATE korvex_warnings)

add_executable(korvex-host WIN32 "${CMAKE_CURRENT_SOURCE_DIR}/app/win32/main.cpp"
                                 "${CMAKE_CURRENT_BINARY_DIR}/korvex-host.rc")
target_link_libraries(korvex-host PRIVATE korvex_tray korvex_warnings)
target_link_options(korvex-host PRIVATE -municode)

include("${PROJECT_SOURCE_DIR}/cmake/windows_installer.cmake")

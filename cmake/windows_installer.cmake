# The Windows installer (packaging/windows/korvex.nsi) as the `package`
# target of the Windows build: makensis with the program, the user docs and
# every name the installer must share with the program, read from the
# program's sources.
include("${PROJECT_SOURCE_DIR}/cmake/source_constant.cmake")
find_program(KORVEX_MAKENSIS makensis)
if(NOT KORVEX_MAKENSIS)
  message(STATUS "makensis not found (Debian package nsis): no installer")
  return()
endif()

set(korvex_src "${PROJECT_SOURCE_DIR}/src")
korvex_source_constant(korvex_run_value "${korvex_src}/app/startup_rules.h" kRunValueName)
korvex_source_constant(korvex_logon_task "${korvex_src}/app/startup_rules.h" kLogonTaskName)
korvex_source_constant(korvex_tray_class "${korvex_src}/app/win32/main.cpp" kTrayClass)
korvex_source_constant(korvex_data_folder "${korvex_src}/core/data_files.h" kDataFolderName)
korvex_source_constant(korvex_first_port "${korvex_src}/net/listener.h" kFirstPort)
korvex_source_constant(korvex_last_port "${korvex_src}/net/listener.h" kLastPort)

set(KORVEX_INSTALLER "${PROJECT_BINARY_DIR}/korvex-${PROJECT_VERSION}-setup.exe")
set(korvex_nsi "${PROJECT_SOURCE_DIR}/packaging/windows/korvex.nsi")
set(korvex_user_docs "${PROJECT_SOURCE_DIR}/docs/USER.md" "${PROJECT_SOURCE_DIR}/docs/GAMEPAD.md"
                     "${PROJECT_SOURCE_DIR}/docs/images/tray-menu.png" "${PROJECT_SOURCE_DIR}/docs/images/pairing-flyout.png")
# The installed program without its symbols (the build's copy keeps them).
set(korvex_shipped_exe "${CMAKE_CURRENT_BINARY_DIR}/installer/korvex-host.exe")
add_custom_command(
  OUTPUT "${korvex_shipped_exe}"
  COMMAND "${CMAKE_COMMAND}" -E make_directory "${CMAKE_CURRENT_BINARY_DIR}/installer"
  COMMAND "${CMAKE_STRIP}" -o "${korvex_shipped_exe}" "$<TARGET_FILE:korvex-host>"
  DEPENDS korvex-host
  VERBATIM)
add_custom_command(
  OUTPUT "${KORVEX_INSTALLER}"
  COMMAND "${KORVEX_MAKENSIS}" -V2 -WX
          "-DVERSION=${PROJECT_VERSION}" "-DVERSION_QUAD=${KORVEX_VERSION_QUAD}"
          "-DHOST_EXE=${korvex_shipped_exe}" "-DDOCS_DIR=${PROJECT_SOURCE_DIR}/docs"
          "-DICON=${KORVEX_ICON_DIR}/korvex.ico" "-DOUTFILE=${KORVEX_INSTALLER}"
          "-DRUN_VALUE_NAME=${korvex_run_value}" "-DLOGON_TASK_NAME=${korvex_logon_task}" "-DTRAY_CLASS=${korvex_tray_class}"
          "-DDATA_FOLDER=${korvex_data_folder}" "-DFIRST_PORT=${korvex_first_port}" "-DLAST_PORT=${korvex_last_port}"
          "${korvex_nsi}"
  DEPENDS "${korvex_shipped_exe}" "${korvex_nsi}" ${korvex_user_docs} "${KORVEX_ICON_DIR}/korvex.ico"
  COMMENT "Building the installer korvex-${PROJECT_VERSION}-setup.exe"
  VERBATIM)
add_custom_target(package DEPENDS "${KORVEX_INSTALLER}")

# The Debian package of the Linux host and korvex-remote, with their man
# pages and the user docs: `cmake --build --preset linux --target package`
# writes korvex_VERSION_ARCH.deb into the build folder.
install(TARGETS korvex-host korvex-remote RUNTIME DESTINATION bin)

# Man pages carry the project's version and go in compressed, as Debian's do.
set(korvex_man_dir "${PROJECT_BINARY_DIR}/man")
set(korvex_man_pages)
foreach(page korvex-host korvex-remote)
  configure_file("${PROJECT_SOURCE_DIR}/packaging/linux/${page}.1.in" "${korvex_man_dir}/${page}.1" @ONLY)
  add_custom_command(
    OUTPUT "${korvex_man_dir}/${page}.1.gz"
    COMMAND gzip -9 -n -f -k "${korvex_man_dir}/${page}.1"
    DEPENDS "${korvex_man_dir}/${page}.1"
    VERBATIM)
  list(APPEND korvex_man_pages "${korvex_man_dir}/${page}.1.gz")
endforeach()
add_custom_target(korvex_man_pages ALL DEPENDS ${korvex_man_pages})
install(FILES ${korvex_man_pages} DESTINATION share/man/man1)
install(FILES "${PROJECT_SOURCE_DIR}/README.md" "${PROJECT_SOURCE_DIR}/docs/USER.md"
              "${PROJECT_SOURCE_DIR}/docs/GAMEPAD.md"
        DESTINATION share/doc/korvex)
install(FILES "${PROJECT_SOURCE_DIR}/docs/images/tray-menu.png" "${PROJECT_SOURCE_DIR}/docs/images/pairing-flyout.png"
        DESTINATION share/doc/korvex/images)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME korvex)
set(CPACK_PACKAGE_VENDOR Korvex)
set(CPACK_PACKAGE_CONTACT "Korvex developers <korvex@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "lets paired phones and tablets control this PC")
# The long description; CPack puts the summary above it.
string(CONCAT CPACK_DEBIAN_PACKAGE_DESCRIPTION
       "korvex-host serves paired devices over the LAN or a Tailscale network:\n"
       "keys, pointer, text, clipboard, gamepad, media keys and system actions,\n"
       "over an encrypted TCP session and encrypted UDP datagrams, injected into\n"
       "the X display through XTEST. korvex-remote is its command-line client.")
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# mDNS advertisement goes through the Avahi daemon; the host runs without it.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS avahi-daemon)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_OUTPUT_FILE_PREFIX "${PROJECT_BINARY_DIR}")
include(CPack)
